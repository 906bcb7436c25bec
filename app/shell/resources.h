// The program's compiled-in resources (icons).
#pragma once

namespace tv {
// Registers the resources of the static library; safe to call more than once.
void InitShellResources();
}  // namespace tv
