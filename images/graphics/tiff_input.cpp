// TIFF input: the first image file directory, 1 bit per sample,
// uncompressed or PackBits, in strips.
#include <algorithm>
#include <utility>
#include <new>
#include <vector>

#include "images/graphics/graphics_file.h"
#include "images/graphics/graphics_input.h"
#include "images/graphics/graphics_rows.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

constexpr uint32_t kMaxTiffWidth = 1u << 20;  // pixels; wider rows are refused
constexpr int kCompressionNone = 1;
constexpr int kCompressionPackBits = 32773;

struct TiffEntry {
  bool present = false;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t value = 0;  // 16-bit for type 3, else 32-bit
  uint8_t raw[4] = {};
};

struct TiffState {
  GraphicsFile file;
  bool bigEndian = false;
  uint32_t width = 0;
  uint32_t bytesPerRow = 0;
  uint8_t lastMask = 0xFF;
  uint32_t rows = 0;
  int compression = kCompressionNone;
  uint32_t photometric = 0;
  std::vector<uint64_t> stripOffsets;
  std::vector<uint64_t> stripBytes;  // bytes available to each strip
  uint32_t rowsPerStrip = 0;
  size_t strip = 0;
  uint32_t rowInStrip = 0;
  uint32_t rowsDone = 0;
  uint64_t stripLeft = 0;  // PackBits: bytes of the current strip not yet read
  std::vector<uint8_t> row;

  uint16_t U16(const uint8_t* p) const { return bigEndian ? Be16(p) : Le16(p); }
  uint32_t U32(const uint8_t* p) const { return bigEndian ? Be32(p) : Le32(p); }
  uint32_t RowsInStrip(size_t s) const {
    const uint64_t first = static_cast<uint64_t>(s) * rowsPerStrip;
    const uint64_t left = rows - first;
    return static_cast<uint32_t>(std::min<uint64_t>(left, rowsPerStrip));
  }
};

// Reads a strip table (offsets or byte counts) of `needed` entries.
int ReadStripArray(TiffState& st, const TiffEntry& e, size_t needed, std::vector<uint64_t>& out) {
  const size_t size = e.type == 3 ? 2 : e.type == 4 ? 4 : 0;
  if (size == 0 || e.count < needed) return ecBadGraphicsFormat;
  if (static_cast<uint64_t>(e.count) * size <= 4) {
    out.resize(needed);
    // Values stored in the entry itself.
    for (size_t i = 0; i < needed; ++i) {
      out[i] = size == 2 ? st.U16(e.raw + 2 * i) : st.U32(e.raw);
    }
    return 0;
  }
  const uint64_t at = st.U32(e.raw);
  if (at + static_cast<uint64_t>(needed) * size > st.file.Size()) return ecBadGraphicsFormat;
  out.resize(needed);
  st.file.Seek(at);
  uint8_t buf[4];
  for (size_t i = 0; i < needed; ++i) {
    const int rc = st.file.ReadExact(buf, size, ecBadGraphicsFormat);
    if (rc != 0) return rc;
    out[i] = size == 2 ? st.U16(buf) : st.U32(buf);
  }
  return 0;
}

void StartStrip(TiffState& st) {
  st.rowInStrip = 0;
  if (st.strip < st.stripOffsets.size()) {
    st.file.Seek(st.stripOffsets[st.strip]);
    st.stripLeft = st.stripBytes[st.strip];
  } else {
    st.stripLeft = 0;
  }
}

int TiffOpen(FaxConvertData& cvt, const std::string& name) {
  auto* st = InputState<TiffState>(cvt);
  int rc = st->file.Open(name);
  if (rc != 0) return rc;
  uint8_t head[8];
  rc = st->file.ReadExact(head, 8, ecBadGraphicsFormat);
  if (rc != 0) return rc;
  if (head[0] == 'I' && head[1] == 'I') {
    st->bigEndian = false;
  } else if (head[0] == 'M' && head[1] == 'M') {
    st->bigEndian = true;
  } else {
    return ecBadGraphicsFormat;
  }
  const uint32_t ifd = st->U32(head + 4);
  if (ifd > 0) st->file.Seek(ifd);

  uint8_t countBytes[2];
  rc = st->file.ReadExact(countBytes, 2, ecBadGraphicsFormat);
  if (rc != 0) return rc;
  const uint16_t count = st->U16(countBytes);
  TiffEntry width, rows, bits, compression, photometric, offsets, rowsPerStrip, byteCounts,
      samples;
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t e[12];
    rc = st->file.ReadExact(e, 12, ecBadGraphicsFormat);
    if (rc != 0) return rc;
    TiffEntry entry;
    entry.present = true;
    entry.type = st->U16(e + 2);
    entry.count = st->U32(e + 4);
    std::copy(e + 8, e + 12, entry.raw);
    entry.value = entry.type == 3 ? st->U16(e + 8) : st->U32(e + 8);
    switch (st->U16(e)) {
      case 256: width = entry; break;
      case 257: rows = entry; break;
      case 258: bits = entry; break;
      case 259: compression = entry; break;
      case 262: photometric = entry; break;
      case 273: offsets = entry; break;
      case 277: samples = entry; break;
      case 278: rowsPerStrip = entry; break;
      case 279: byteCounts = entry; break;
      default: break;  // 255 (subfile type) and every other tag: not needed
    }
  }
  if (!width.present || !rows.present || !offsets.present) return ecBadGraphicsFormat;
  if (bits.present && bits.value != 1) return ecBadGraphicsFormat;
  if (samples.present && samples.value != 1) return ecBadGraphicsFormat;
  st->compression = compression.present ? static_cast<int>(compression.value) : kCompressionNone;
  if (st->compression != kCompressionNone && st->compression != kCompressionPackBits) {
    return ecBadGraphicsFormat;
  }
  if (width.value == 0 || width.value > kMaxTiffWidth) return ecBadGraphicsFormat;
  st->width = width.value;
  st->bytesPerRow = (width.value + 7) / 8;
  st->lastMask = LastByteMask(width.value);
  st->rows = rows.value;
  st->photometric = photometric.present ? photometric.value : 0;
  st->rowsPerStrip = rowsPerStrip.present ? rowsPerStrip.value : st->rows;
  if (st->rowsPerStrip == 0 || st->rowsPerStrip > st->rows) st->rowsPerStrip = st->rows;

  const size_t strips =
      st->rows == 0 ? 0 : static_cast<size_t>((static_cast<uint64_t>(st->rows) + st->rowsPerStrip - 1) / st->rowsPerStrip);
  // Every strip needs its own table entry, and a table holds no more
  // entries than the file has bytes.
  if (strips > st->file.Size()) return ecBadGraphicsFormat;
  rc = ReadStripArray(*st, offsets, strips, st->stripOffsets);
  if (rc != 0) return rc;
  std::vector<uint64_t> counts;
  if (byteCounts.present && byteCounts.count >= strips) {
    rc = ReadStripArray(*st, byteCounts, strips, counts);
    if (rc != 0) return rc;
  }
  st->stripBytes.resize(strips);
  const uint64_t size = st->file.Size();
  // Without byte counts a PackBits strip ends where the next strip starts.
  std::vector<uint64_t> starts(st->stripOffsets);
  std::sort(starts.begin(), starts.end());
  uint64_t sum = 0;
  for (size_t s = 0; s < strips; ++s) {
    const uint64_t at = st->stripOffsets[s];
    if (at > size) return ecBadGraphicsFormat;
    if (st->compression == kCompressionNone) {
      const uint64_t need = static_cast<uint64_t>(st->RowsInStrip(s)) * st->bytesPerRow;
      if (at + need > size) return ecBadGraphicsFormat;
      st->stripBytes[s] = need;
    } else if (!counts.empty()) {
      st->stripBytes[s] = std::min(counts[s], size - at);
    } else {
      const auto next = std::upper_bound(starts.begin(), starts.end(), at);
      st->stripBytes[s] = (next == starts.end() ? size : *next) - at;
    }
    sum += st->stripBytes[s];
  }
  // Strips share no bytes: a table whose strips overlap would have the same
  // bytes decoded again and again.
  if (sum > size) return ecBadGraphicsFormat;
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  for (size_t s = 0; s < strips; ++s) {
    if (st->stripBytes[s] > 0) spans.emplace_back(st->stripOffsets[s], st->stripBytes[s]);
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i - 1].first + spans[i - 1].second > spans[i].first) return ecBadGraphicsFormat;
  }

  st->row.assign(st->bytesPerRow, 0);
  PlaceInputImage(cvt, static_cast<int>(std::min<uint32_t>(st->width, 1u << 30)));
  cvt.bytesRead = 0;
  cvt.bytesTotal = static_cast<int64_t>(st->rows) * st->bytesPerRow;
  st->strip = 0;
  st->rowsDone = 0;
  StartStrip(*st);
  return 0;
}

// Decodes one PackBits row from the current strip. Returns 0 or an error;
// a strip whose data ends leaves the rest of the row white.
int ReadPackBitsRow(TiffState& st) {
  uint8_t* row = st.row.data();
  const size_t bpr = st.bytesPerRow;
  std::fill(row, row + bpr, 0);
  size_t pos = 0;
  while (pos < bpr && st.stripLeft > 0) {
    uint8_t n;
    if (!st.file.ReadByte(n)) {
      st.stripLeft = 0;
      return st.file.error();
    }
    --st.stripLeft;
    if (n < 128) {
      // n + 1 literal bytes; those beyond the row are dropped.
      size_t lit = static_cast<size_t>(n) + 1;
      if (lit > st.stripLeft) lit = static_cast<size_t>(st.stripLeft);
      const size_t keep = std::min(lit, bpr - pos);
      size_t got = 0;
      int rc = st.file.Read(row + pos, keep, got);
      if (rc != 0) return rc;
      pos += got;
      st.file.Skip(lit - keep);
      st.stripLeft -= lit;
      if (got < keep) st.stripLeft = 0;
    } else if (n > 128) {
      // The next byte 257 - n times.
      uint8_t v;
      if (st.stripLeft == 0 || !st.file.ReadByte(v)) {
        st.stripLeft = 0;
        return st.file.error();
      }
      --st.stripLeft;
      const size_t rep = std::min<size_t>(257 - n, bpr - pos);
      std::fill(row + pos, row + pos + rep, v);
      pos += rep;
    }
    // 128 is no operation.
  }
  return 0;
}

int TiffReadLine(FaxConvertData& cvt, uint8_t* data, int& len, bool& endOfPage,
                 bool& morePages) {
  auto* st = InputState<TiffState>(cvt);
  morePages = false;
  len = 0;
  for (;;) {
    if (st->rowsDone >= st->rows) {
      endOfPage = true;
      return 0;
    }
    if (st->rowInStrip >= st->RowsInStrip(st->strip)) {
      ++st->strip;
      StartStrip(*st);
      continue;
    }
    if (st->compression == kCompressionPackBits && st->stripLeft == 0) {
      // The strip's data ended: its remaining rows are missing.
      st->rowsDone += st->RowsInStrip(st->strip) - st->rowInStrip;
      st->rowInStrip = st->RowsInStrip(st->strip);
      continue;
    }
    break;
  }
  int rc;
  if (st->compression == kCompressionNone) {
    rc = st->file.ReadExact(st->row.data(), st->bytesPerRow, -ecReadBeyondEOF);
  } else {
    rc = ReadPackBitsRow(*st);
  }
  if (rc != 0) return rc;
  uint8_t* row = st->row.data();
  if (st->photometric != 0) {
    for (size_t i = 0; i < st->bytesPerRow; ++i) row[i] = static_cast<uint8_t>(~row[i]);
  }
  row[st->bytesPerRow - 1] &= st->lastMask;
  PlaceRow(cvt, row, st->bytesPerRow, data, len);
  ++st->rowInStrip;
  ++st->rowsDone;
  cvt.bytesRead += st->bytesPerRow;
  endOfPage = false;
  return 0;
}

void TiffClose(FaxConvertData& cvt) { InputState<TiffState>(cvt)->file.Close(); }

}  // namespace

int CreateTiffConverter(std::unique_ptr<FaxConvertData>& out) {
  std::shared_ptr<TiffState> st(new (std::nothrow) TiffState);
  if (st == nullptr) return -ecOutOfMemory;
  return CreateFaxConverter(out, st, FaxInputKind{TiffOpen, TiffReadLine, TiffClose}, "TIF");
}

}  // namespace tv
