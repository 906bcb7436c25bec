#include "images/unpack/fax_unpacker.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/core/error_codes.h"

namespace tv {

namespace {

constexpr int kInputBlock = 4096;
constexpr int kRowChunk = 1024;

// Pairs of pixels merged into one, black winning: for each byte the four
// output bits, for 1 = black (OR of each pair) and for 1 = white (AND).
struct HalfTables {
  uint8_t orPairs[256];
  uint8_t andPairs[256];
  HalfTables() {
    for (int b = 0; b < 256; ++b) {
      int o = 0, a = 0;
      for (int k = 0; k < 4; ++k) {
        const int hi = (b >> (7 - 2 * k)) & 1;
        const int lo = (b >> (6 - 2 * k)) & 1;
        o |= (hi | lo) << (3 - k);
        a |= (hi & lo) << (3 - k);
      }
      orPairs[b] = static_cast<uint8_t>(o);
      andPairs[b] = static_cast<uint8_t>(a);
    }
  }
};
const HalfTables& Half() {
  static const HalfTables t;
  return t;
}

bool AllZero(const uint8_t* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// Passes decoded lines on: blank-line compression, inversion, double height
// or half width.
class PageSink : public t4::LineSink {
 public:
  explicit PageSink(FaxUnpackData& u) : u_(u) {}

  bool Line(const uint8_t* line, int bytes) override {
    if (u_.whitespaceFrom && u_.whitespaceTo) {
      if (AllZero(line, bytes)) {
        u_.blankRun += 1;
        u_.linesDone += 1;
        return Going();
      }
      FlushBlanks(false);
    }
    u_.linesDone += 1;
    Pass(line, bytes);
    if (error_ == 0 && (u_.flags & ufYield) && u_.yield && u_.linesDone % 16 == 0) {
      error_ = u_.yield();
    }
    return Going();
  }

  // Passes the held-back blank lines (at the end of the page they are
  // dropped when From equals To).
  void FlushBlanks(bool endOfPage) {
    if (u_.blankRun > 0 && !(endOfPage && u_.whitespaceFrom == u_.whitespaceTo)) {
      const int count = u_.blankRun >= u_.whitespaceFrom ? u_.whitespaceTo : u_.blankRun;
      for (int i = 0; i < count && error_ == 0; ++i) Pass(nullptr, 0);
    }
    u_.blankRun = 0;
  }

  int Error() const { return error_; }

 private:
  bool Going() const { return error_ == 0 && !(u_.flags & ufAbort); }

  void Emit(const uint8_t* data, int len) {
    if (error_ || !u_.lineCallback) return;
    const int rc = u_.lineCallback(u_, ulData, data, len, u_.pageNo);
    if (rc < 0) error_ = rc;
  }

  void Pass(const uint8_t* line, int len) {
    const uint8_t* data = line;
    uint8_t* work = u_.workLine.get();
    if (len > 0 && u_.invert) {
      for (int i = 0; i < len; ++i) work[i] = static_cast<uint8_t>(~line[i]);
      data = work;
    }
    if (u_.pageHeader.pageFlags & pfHighRes) {
      Emit(data, len);
    } else if ((u_.flags & ufDoubleHeight) && u_.lineCallback) {
      Emit(data, len);
      Emit(data, len);
    } else if ((u_.flags & ufHalfWidth) && len > 0) {
      const uint8_t* t = u_.invert ? Half().andPairs : Half().orPairs;
      const int half = len / 2;
      for (int k = 0; k < half; ++k) {
        work[k] = static_cast<uint8_t>((t[data[2 * k]] << 4) | t[data[2 * k + 1]]);
      }
      Emit(work, half);
    } else {
      Emit(data, len);
    }
  }

  FaxUnpackData& u_;
  int error_ = 0;
};

}  // namespace

int CreateFaxUnpacker(std::unique_ptr<FaxUnpackData>& out, void* owner, UnpackLineFn lineCallback) {
  out.reset();
  auto u = std::unique_ptr<FaxUnpackData>(new (std::nothrow) FaxUnpackData);
  if (!u) return -ecOutOfMemory;
  u->inputBuffer.reset(new (std::nothrow) uint8_t[kInputBlock]);
  u->workLine.reset(new (std::nothrow) uint8_t[t4::kLineBufferBytes]);
  if (!u->inputBuffer || !u->workLine) return -ecOutOfMemory;
  u->owner = owner;
  u->lineCallback = std::move(lineCallback);
  u->flags = kDefaultUnpackFlags;
  Half();
  out = std::move(u);
  return 0;
}

void SetUnpackerFlags(FaxUnpackData& u, uint16_t flags) {
  if ((flags & ufDoubleHeight) && (flags & ufHalfWidth)) {
    flags = static_cast<uint16_t>(flags & ~(ufDoubleHeight | ufHalfWidth));
  }
  if (flags & ufDoubleHeight) u.flags = static_cast<uint16_t>(u.flags & ~ufHalfWidth);
  if (flags & ufHalfWidth) u.flags = static_cast<uint16_t>(u.flags & ~ufDoubleHeight);
  u.flags |= flags;
}

void ClearUnpackerFlags(FaxUnpackData& u, uint16_t flags) {
  u.flags = static_cast<uint16_t>(u.flags & ~flags);
}

bool UnpackerHasFlags(const FaxUnpackData& u, uint16_t flags) { return (u.flags & flags) == flags; }

int SetWhitespace(FaxUnpackData& u, int from, int to) {
  if (from < to || (from == 0 && to != 0) || to < 0) return ecBadArgument;
  u.whitespaceFrom = from;
  u.whitespaceTo = to;
  return 0;
}

void SetStretch(FaxUnpackData& u, int horizMult, int horizDiv, int vertMult, int vertDiv) {
  u.horizMult = horizMult > 0 ? horizMult : 1;
  u.horizDiv = horizDiv > 0 ? horizDiv : 1;
  u.vertMult = vertMult > 0 ? vertMult : 1;
  u.vertDiv = vertDiv > 0 ? vertDiv : 1;
}

int DecodeFaxPage(FaxUnpackData& u, std::FILE* file, const std::string& fileName, int pageNo) {
  u.blankRun = 0;
  u.linesDone = 0;
  u.badCodes = 0;
  u.pageNo = pageNo;
  int rc = ReadApfFileHeader(file, u.fileHeader);
  if (rc < 0) return rc;
  if (pageNo < 1 || pageNo > u.fileHeader.pageCount) return ecBadFaxFormat;
  rc = SeekApfPage(file, u.fileHeader, pageNo, u.pageHeader);
  if (rc < 0) return rc;
  const bool records = (u.pageHeader.pageFlags & pfLineRecords) != 0;
  u.bytesToUnpack = u.pageHeader.dataLength;
  u.bytesUnpacked = 0;

  if (u.lineCallback) {
    rc = u.lineCallback(u, ulStart, nullptr, 0, pageNo);
    if (rc < 0) return rc;
  }
  PageSink sink(u);
  t4::T4Decoder& decoder = u.decoder;
  decoder.StartPage();
  uint8_t* in = u.inputBuffer.get();
  auto status = [&] {
    if (u.statusCallback) {
      u.statusCallback(u, fileName, pageNo, std::min(u.bytesUnpacked, u.bytesToUnpack),
                       u.bytesToUnpack);
    }
  };

  int error = 0;
  for (;;) {
    // Fetch the next piece of page data.
    int n = 0;
    int fetchError = 0;
    bool more = true;
    if (records) {
      n = ReadLineRecord(file, in);
      if (n < 0) {
        fetchError = n;
        more = false;
      } else {
        u.bytesUnpacked += n + 2;
      }
    } else if (u.bytesUnpacked >= u.bytesToUnpack) {
      more = false;  // the page data is used up
    } else {
      // Never read beyond the page's own data.
      const int64_t left = u.bytesToUnpack - u.bytesUnpacked;
      const size_t want = static_cast<size_t>(std::min<int64_t>(kInputBlock, left));
      n = static_cast<int>(std::fread(in, 1, want, file));
      if (n <= 0) {
        fetchError = ecBadFaxFormat;
        more = false;
      } else {
        u.bytesUnpacked += n;
      }
    }
    t4::FeedResult r;
    if (!more) {
      r = decoder.Finish(sink);
      if (r == t4::FeedResult::kNeedMore) error = fetchError;  // the data ended early
      break;
    }
    r = decoder.Feed(in, static_cast<size_t>(n), sink);
    if (sink.Error()) break;
    status();
    if (r != t4::FeedResult::kNeedMore) break;
    if (u.flags & ufAbort) break;
    if ((u.flags & ufYield) && u.yield && u.linesDone % 16 == 0) {
      error = u.yield();
      if (error < 0) break;
    }
  }
  u.badCodes = decoder.BadCodes();
  if (error == 0) error = sink.Error();
  if (error < 0) return error;
  if (u.whitespaceFrom && u.whitespaceTo) sink.FlushBlanks(true);
  if (sink.Error() < 0) return sink.Error();
  status();
  if (u.lineCallback) {
    rc = u.lineCallback(u, ulEnd, nullptr, 0, pageNo);
    if (rc < 0) return rc;
  }
  return 0;
}

int DecodeFaxPage(FaxUnpackData& u, const std::string& fileName, int pageNo) {
  int error = 0;
  std::FILE* f = OpenApfForReading(fileName, error);
  if (!f) return error;
  const int rc = DecodeFaxPage(u, f, fileName, pageNo);
  std::fclose(f);
  return rc;
}

// ------------------------------------------------------------ page bitmaps

namespace {

struct BitmapBuilder {
  int rowSize = 216;
  int rows = 0;
  int widest = 1;
  bool anyBlack = false;
  std::vector<uint8_t> block;

  int AddRow(const uint8_t* data, int len) {
    if (static_cast<size_t>(rows + 1) * rowSize > block.size()) {
      try {
        block.resize(block.size() + static_cast<size_t>(kRowChunk) * rowSize, 0);
      } catch (const std::bad_alloc&) {
        return -ecOutOfMemory;
      }
    }
    uint8_t* row = block.data() + static_cast<size_t>(rows) * rowSize;
    // A line longer than the page's rows is cut to the row size.
    const int n = std::min(len, rowSize);
    if (n > 0) std::memcpy(row, data, static_cast<size_t>(n));
    rows += 1;
    for (int i = n - 1; i >= 0; --i) {
      if (row[i]) {
        anyBlack = true;
        widest = std::max(widest, i + 1);
        break;
      }
    }
    return 0;
  }
};

}  // namespace

MonoBitmap StretchBitmap(const MonoBitmap& src, int width, int height) {
  if (width <= 0 || height <= 0 || src.Empty()) return MonoBitmap();
  MonoBitmap out(width, height);
  const int sw = src.Width();
  const int sh = src.Height();
  std::vector<uint8_t> merged(static_cast<size_t>(src.RowBytes()), 0);
  for (int y = 0; y < height; ++y) {
    const int y0 = static_cast<int>(static_cast<int64_t>(y) * sh / height);
    int y1 = static_cast<int>(static_cast<int64_t>(y + 1) * sh / height);
    if (y1 <= y0) y1 = y0 + 1;
    std::fill(merged.begin(), merged.end(), 0);
    for (int sy = y0; sy < y1 && sy < sh; ++sy) {
      const uint8_t* r = src.Row(sy);
      for (int i = 0; i < src.RowBytes(); ++i) merged[i] |= r[i];
    }
    uint8_t* o = out.Row(y);
    for (int x = 0; x < width; ++x) {
      const int x0 = static_cast<int>(static_cast<int64_t>(x) * sw / width);
      int x1 = static_cast<int>(static_cast<int64_t>(x + 1) * sw / width);
      if (x1 <= x0) x1 = x0 + 1;
      bool black = false;
      for (int sx = x0; sx < x1 && sx < sw && !black; ++sx) {
        black = (merged[sx >> 3] >> (7 - (sx & 7))) & 1;
      }
      if (black) o[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return out;
}

int UnpackPageToBitmap(FaxUnpackData& u, std::FILE* file, const std::string& fileName, int pageNo,
                       MonoBitmap& out) {
  out = MonoBitmap();
  // Read the page header first, for the row size.
  int rc = ReadApfFileHeader(file, u.fileHeader);
  if (rc < 0) return rc;
  rc = SeekApfPage(file, u.fileHeader, pageNo, u.pageHeader);
  if (rc < 0) return rc;
  BitmapBuilder b;
  b.rowSize = (u.pageHeader.pageFlags & pfWide) ? 256 : 216;
  try {
    b.block.assign(static_cast<size_t>(kRowChunk) * b.rowSize, 0);
  } catch (const std::bad_alloc&) {
    return -ecOutOfMemory;
  }
  UnpackLineFn saved = std::move(u.lineCallback);
  const bool savedInvert = u.invert;
  u.invert = false;  // page bitmaps hold 1 = black
  u.lineCallback = [&b](FaxUnpackData&, unsigned what, const uint8_t* data, int len, int) {
    if (what != ulData) return 0;
    return b.AddRow(data, len);
  };
  rc = DecodeFaxPage(u, file, fileName, pageNo);
  u.lineCallback = std::move(saved);
  u.invert = savedInvert;
  if (rc < 0) return rc;
  if (b.rows == 0 || !b.anyBlack) return 0;

  const int widthBytes = (b.widest + 1) & ~1;
  std::vector<uint8_t> packed;
  try {
    packed.assign(static_cast<size_t>(widthBytes) * b.rows, 0);
  } catch (const std::bad_alloc&) {
    return -ecOutOfMemory;
  }
  const int copy = std::min(widthBytes, b.rowSize);
  for (int y = 0; y < b.rows; ++y) {
    std::memcpy(packed.data() + static_cast<size_t>(y) * widthBytes,
                b.block.data() + static_cast<size_t>(y) * b.rowSize, static_cast<size_t>(copy));
  }
  std::vector<uint8_t>().swap(b.block);
  MonoBitmap page;
  page.Adopt(widthBytes * 8, b.rows, widthBytes, std::move(packed));
  if (u.horizMult != u.horizDiv || u.vertMult != u.vertDiv) {
    const int64_t w = static_cast<int64_t>(u.horizMult) * page.Width() / u.horizDiv;
    const int64_t h = static_cast<int64_t>(page.Height()) * u.vertMult / u.vertDiv;
    if (w <= 0 || h <= 0 || w > 65536 || h > 1 << 20) return ecCantMakeBitmap;
    try {
      page = StretchBitmap(page, static_cast<int>(w), static_cast<int>(h));
    } catch (const std::bad_alloc&) {
      return ecCantMakeBitmap;
    }
  }
  out = std::move(page);
  return 0;
}

int UnpackPageToBitmap(FaxUnpackData& u, const std::string& fileName, int pageNo, MonoBitmap& out) {
  int error = 0;
  std::FILE* f = OpenApfForReading(fileName, error);
  if (!f) return error;
  const int rc = UnpackPageToBitmap(u, f, fileName, pageNo, out);
  std::fclose(f);
  return rc;
}

}  // namespace tv
