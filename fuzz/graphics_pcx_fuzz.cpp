// libFuzzer target: the PCX reader of the graphics input.
#include "images/graphics/graphics_input.h"
#include "tests/images/graphics/fuzz_graphics_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tv::fuzzing::RunGraphicsInput(tv::CreatePcxConverter, data, size);
  return 0;
}
