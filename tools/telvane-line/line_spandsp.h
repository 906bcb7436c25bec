// The one place where the line includes spandsp. The emulated modem looks at
// the T.31 modem's transmit buffer and command mode, which spandsp keeps in
// its internal structures, so those are exposed here.
#pragma once

#include <tiffio.h>
#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
#include <spandsp.h>
