// Bitmap input of the converter: one page from a monochrome bitmap in memory.
#pragma once

#include <memory>

#include "images/bitmap/mono_bitmap.h"
#include "images/convert/fax_converter.h"

namespace tv {

// Creates the core with the bitmap callbacks and no default extension.
int CreateBitmapConverter(std::unique_ptr<FaxConvertData>& out);

// Hands a bitmap (1 = black, see mono_bitmap.h) to a core made by
// CreateBitmapConverter. The bits are copied when the input opens, so the
// bitmap must live until ConvertToApfFile has started. No bitmap gives
// ecBadArgument. Rows wider than the raster buffer at the centring offset
// are cut.
int SetConverterBitmap(FaxConvertData& cvt, const MonoBitmap* bitmap);

}  // namespace tv
