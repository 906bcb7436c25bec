// PCX input (one monochrome page) and DCX input (up to 1024 PCX pages).
#include <algorithm>
#include <new>
#include <vector>

#include "images/graphics/graphics_file.h"
#include "images/graphics/graphics_input.h"
#include "images/graphics/graphics_rows.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

constexpr size_t kPcxHeaderSize = 128;
constexpr uint32_t kDcxSignature = 987654321;  // 3ADE68B1
constexpr size_t kMaxDcxPages = 1024;

struct PcxPage {
  uint64_t offset = 0;
  uint64_t size = 0;
};

struct PcxState {
  GraphicsFile file;
  // The page being read.
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bytesPerLine = 0;
  uint32_t widthBytes = 0;  // bytes of a line that hold image pixels
  uint8_t lastMask = 0xFF;
  uint64_t dataLeft = 0;  // bytes of image data not yet decoded
  uint32_t linesDone = 0;
  std::vector<uint8_t> line;
  // DCX: the pages in offset order, and the one being read.
  std::vector<PcxPage> pages;
  size_t page = 0;
};

// Reads and checks the 128-byte header of the page at offset that spans
// size bytes, and places its image on the line.
int StartPcxPage(FaxConvertData& cvt, PcxState& st, uint64_t offset, uint64_t size) {
  uint8_t h[kPcxHeaderSize];
  if (size < kPcxHeaderSize) return ecBadGraphicsFormat;
  st.file.Seek(offset);
  const int rc = st.file.ReadExact(h, kPcxHeaderSize, ecBadGraphicsFormat);
  if (rc != 0) return rc;
  const auto xmin = static_cast<int16_t>(Le16(h + 4));
  const auto ymin = static_cast<int16_t>(Le16(h + 6));
  const auto xmax = static_cast<int16_t>(Le16(h + 8));
  const auto ymax = static_cast<int16_t>(Le16(h + 10));
  const uint8_t planes = h[65];
  const uint16_t bytesPerLine = Le16(h + 66);
  if (h[0] != 10 || h[2] != 1 || h[3] != 1) return ecBadGraphicsFormat;
  if (xmax < xmin || xmax - xmin > cvt.lineWidth) return ecBadGraphicsFormat;
  // Several colour planes are not a black-and-white image; a line of no
  // bytes would never consume the data.
  if (planes > 1 || bytesPerLine == 0) return ecBadGraphicsFormat;
  st.width = static_cast<uint32_t>(xmax - xmin + 1);
  st.height = ymax >= ymin ? static_cast<uint32_t>(ymax - ymin + 1) : 0;
  st.bytesPerLine = bytesPerLine;
  st.widthBytes = std::min<uint32_t>((st.width + 7) / 8, bytesPerLine);
  st.lastMask = st.widthBytes * 8 <= st.width ? 0xFF : LastByteMask(st.width);
  st.dataLeft = size - kPcxHeaderSize;
  st.linesDone = 0;
  st.line.assign(bytesPerLine, 0);
  PlaceInputImage(cvt, static_cast<int>(st.width));
  return 0;
}

// Decodes one line of bytesPerLine bytes (inverted, so 1 = black). A run
// that reaches past the end of the line is cut there; data that ends within
// the line leaves the rest white.
int DecodePcxLine(PcxState& st) {
  uint8_t* line = st.line.data();
  const size_t bpl = st.bytesPerLine;
  std::fill(line, line + bpl, 0);
  size_t pos = 0;
  while (pos < bpl && st.dataLeft > 0) {
    uint8_t b;
    if (!st.file.ReadByte(b)) {
      st.dataLeft = 0;
      return st.file.error();
    }
    --st.dataLeft;
    size_t count = 1;
    if (b >= 192) {
      count = b & 63;
      if (st.dataLeft == 0 || !st.file.ReadByte(b)) {
        st.dataLeft = 0;
        return st.file.error();
      }
      --st.dataLeft;
    }
    const size_t n = std::min(count, bpl - pos);
    std::fill(line + pos, line + pos + n, static_cast<uint8_t>(~b));
    pos += n;
  }
  return 0;
}

bool PcxPageDone(const PcxState& st) { return st.dataLeft == 0 || st.linesDone >= st.height; }

int PcxDeliver(FaxConvertData& cvt, PcxState& st, uint8_t* data, int& len) {
  const uint64_t before = st.dataLeft;
  const int rc = DecodePcxLine(st);
  if (rc != 0) return rc;
  if (st.widthBytes > 0) st.line[st.widthBytes - 1] &= st.lastMask;
  PlaceRow(cvt, st.line.data(), st.widthBytes, data, len);
  ++st.linesDone;
  cvt.bytesRead += static_cast<int64_t>(before - st.dataLeft);
  if (cvt.bytesRead > cvt.bytesTotal) cvt.bytesRead = cvt.bytesTotal;
  return 0;
}

int PcxOpen(FaxConvertData& cvt, const std::string& name) {
  auto* st = InputState<PcxState>(cvt);
  int rc = st->file.Open(name);
  if (rc != 0) return rc;
  const uint64_t size = st->file.Size();
  rc = StartPcxPage(cvt, *st, 0, size);
  if (rc != 0) return rc;
  cvt.bytesRead = 0;
  cvt.bytesTotal = static_cast<int64_t>(size - kPcxHeaderSize);
  return 0;
}

int PcxReadLine(FaxConvertData& cvt, uint8_t* data, int& len, bool& endOfPage,
                bool& morePages) {
  auto* st = InputState<PcxState>(cvt);
  len = 0;
  morePages = false;
  endOfPage = PcxPageDone(*st);
  if (endOfPage) return 0;
  return PcxDeliver(cvt, *st, data, len);
}

int DcxOpen(FaxConvertData& cvt, const std::string& name) {
  auto* st = InputState<PcxState>(cvt);
  int rc = st->file.Open(name);
  if (rc != 0) return rc;
  uint8_t b[4];
  rc = st->file.ReadExact(b, 4, ecBadGraphicsFormat);
  if (rc != 0) return rc;
  if (Le32(b) != kDcxSignature) return ecBadGraphicsFormat;
  const uint64_t size = st->file.Size();
  std::vector<uint64_t> offsets;
  while (offsets.size() < kMaxDcxPages) {
    size_t got = 0;
    rc = st->file.Read(b, 4, got);
    if (rc != 0) return rc;
    if (got < 4) break;  // a table cut short by the end of the file
    const uint32_t at = Le32(b);
    if (at == 0) break;
    // A page must lie inside the file with room for its header.
    if (at < 8 || at + static_cast<uint64_t>(kPcxHeaderSize) > size) return ecBadGraphicsFormat;
    offsets.push_back(at);
  }
  if (offsets.empty()) return ecBadGraphicsFormat;
  std::sort(offsets.begin(), offsets.end());
  st->pages.clear();
  int64_t total = 0;
  for (size_t i = 0; i < offsets.size(); ++i) {
    const uint64_t end = i + 1 < offsets.size() ? offsets[i + 1] : size;
    const uint64_t pageSize = end - offsets[i];
    if (pageSize < kPcxHeaderSize) return ecBadGraphicsFormat;
    st->pages.push_back(PcxPage{offsets[i], pageSize});
    total += static_cast<int64_t>(pageSize - kPcxHeaderSize);
  }
  st->page = 0;
  rc = StartPcxPage(cvt, *st, st->pages[0].offset, st->pages[0].size);
  if (rc != 0) return rc;
  cvt.bytesRead = 0;
  cvt.bytesTotal = total;
  return 0;
}

int DcxReadLine(FaxConvertData& cvt, uint8_t* data, int& len, bool& endOfPage,
                bool& morePages) {
  auto* st = InputState<PcxState>(cvt);
  len = 0;
  if (PcxPageDone(*st)) {
    endOfPage = true;
    morePages = st->page + 1 < st->pages.size();
    if (morePages) {
      ++st->page;
      return StartPcxPage(cvt, *st, st->pages[st->page].offset, st->pages[st->page].size);
    }
    return 0;
  }
  endOfPage = false;
  morePages = true;
  return PcxDeliver(cvt, *st, data, len);
}

void PcxClose(FaxConvertData& cvt) { InputState<PcxState>(cvt)->file.Close(); }

}  // namespace

int CreatePcxConverter(std::unique_ptr<FaxConvertData>& out) {
  std::shared_ptr<PcxState> st(new (std::nothrow) PcxState);
  if (st == nullptr) return -ecOutOfMemory;
  return CreateFaxConverter(out, st, FaxInputKind{PcxOpen, PcxReadLine, PcxClose}, "PCX");
}

int CreateDcxConverter(std::unique_ptr<FaxConvertData>& out) {
  std::shared_ptr<PcxState> st(new (std::nothrow) PcxState);
  if (st == nullptr) return -ecOutOfMemory;
  return CreateFaxConverter(out, st, FaxInputKind{DcxOpen, DcxReadLine, PcxClose}, "DCX");
}

}  // namespace tv
