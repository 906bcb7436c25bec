// The APF reader and the unpacker on arbitrary files: every damaged file
// must give an error code or a page, never a crash, hang or stray read.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "images/apf/apf_file.h"
#include "images/bitmap/mono_bitmap.h"
#include "images/unpack/fax_unpacker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the unpacker's settings; the rest is the file.
  const uint8_t mode = data[0];
  std::FILE* f = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb");
  if (!f) return 0;
  std::unique_ptr<tv::FaxUnpackData> u;
  if (tv::CreateFaxUnpacker(u, nullptr, nullptr) != 0) {
    std::fclose(f);
    return 0;
  }
  tv::ClearUnpackerFlags(*u, tv::ufYield | tv::ufDoubleHeight);
  if (mode & 1) tv::SetUnpackerFlags(*u, tv::ufDoubleHeight);
  if (mode & 2) tv::SetUnpackerFlags(*u, tv::ufHalfWidth);
  if (mode & 4) tv::SetWhitespace(*u, 3, 1);
  if (mode & 8) tv::SetStretch(*u, 1, 3, 1, 2);
  if (mode & 16) tv::SetStretch(*u, 3, 2, 2, 1);
  tv::ApfFileHeader h;
  if (tv::ReadApfFileHeader(f, h) == 0) {
    const int pages = h.pageCount < 3 ? h.pageCount : 3;
    for (int p = 1; p <= pages + 1; ++p) {
      tv::MonoBitmap bitmap;
      tv::UnpackPageToBitmap(*u, f, "fuzz", p, bitmap);
      if (!bitmap.Empty()) {
        volatile uint8_t sink = bitmap.Row(bitmap.Height() - 1)[bitmap.RowBytes() - 1];
        (void)sink;
      }
    }
  }
  std::fclose(f);
  return 0;
}
