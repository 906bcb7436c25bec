#include "images/convert/bitmap_input.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/core/error_codes.h"

namespace tv {

namespace {

struct BitmapInputState {
  const MonoBitmap* bitmap = nullptr;
  std::vector<uint8_t> bits;  // copy taken when the input opens
  int width = 0;
  int rowBytes = 0;
  int rows = 0;
  int nextRow = 1;  // from 1
};

int OpenBitmap(FaxConvertData& cvt, const std::string&) {
  auto* s = InputState<BitmapInputState>(cvt);
  if (!s || !s->bitmap) return ecBadArgument;
  const MonoBitmap& b = *s->bitmap;
  s->width = b.Width();
  s->rowBytes = b.RowBytes();
  s->rows = b.Height();
  s->nextRow = 1;
  cvt.bytesRead = 0;
  cvt.bytesTotal = static_cast<int64_t>(s->rowBytes) * s->rows;
  PlaceInputImage(cvt, s->width);
  try {
    s->bits.assign(b.Bits(), b.Bits() + b.SizeBytes());
  } catch (const std::bad_alloc&) {
    return -ecOutOfMemory;
  }
  return 0;
}

int ReadBitmapLine(FaxConvertData& cvt, uint8_t* data, int& len, bool& endOfPage,
                   bool& morePages) {
  auto* s = InputState<BitmapInputState>(cvt);
  morePages = false;
  if (s->nextRow > s->rows) {
    endOfPage = true;
    return 0;
  }
  const uint8_t* row = s->bits.data() + static_cast<size_t>(s->nextRow - 1) * s->rowBytes;
  // A row that does not fit at the centring offset is cut at the buffer's end.
  const int offset = std::min<int>(cvt.centerOffset, kRasterBufferSize);
  const int used = (s->width + 7) / 8;
  const int n = std::min<int>(used, static_cast<int>(kRasterBufferSize) - offset);
  std::memcpy(data + offset, row, n);
  if (n == used && (s->width & 7)) {
    data[offset + n - 1] &= static_cast<uint8_t>(0xFF00u >> (s->width & 7));
  }
  len = cvt.lineWidth / 8;
  s->nextRow += 1;
  cvt.bytesRead += s->rowBytes;
  return 0;
}

void CloseBitmap(FaxConvertData& cvt) {
  auto* s = InputState<BitmapInputState>(cvt);
  if (s) std::vector<uint8_t>().swap(s->bits);
}

}  // namespace

int CreateBitmapConverter(std::unique_ptr<FaxConvertData>& out) {
  std::shared_ptr<BitmapInputState> state(new (std::nothrow) BitmapInputState);
  if (!state) return -ecOutOfMemory;
  return CreateFaxConverter(out, state, FaxInputKind{OpenBitmap, ReadBitmapLine, CloseBitmap}, "");
}

int SetConverterBitmap(FaxConvertData& cvt, const MonoBitmap* bitmap) {
  // Only a core made by CreateBitmapConverter holds the bitmap state.
  using ReadFn = int (*)(FaxConvertData&, uint8_t*, int&, bool&, bool&);
  const ReadFn* read = cvt.readLine.target<ReadFn>();
  if (!read || *read != &ReadBitmapLine) return ecBadArgument;
  auto* s = InputState<BitmapInputState>(cvt);
  if (!s || !bitmap) return ecBadArgument;
  s->bitmap = bitmap;
  return 0;
}

}  // namespace tv
