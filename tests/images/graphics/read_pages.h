// Drives an input kind of the converter the way a conversion does (open,
// read lines page by page, close) and keeps every delivered raster line.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "images/convert/fax_converter.h"
#include "images/unpack/fax_unpacker.h"

namespace tv::testing {

struct ReadResult {
  int rc = 0;  // first non-zero result of open or read
  std::vector<std::vector<std::vector<uint8_t>>> pages;  // pages of lines of `keep` bytes
  std::vector<int> lens;                                 // Len of every line

  size_t Lines(size_t page) const { return page < pages.size() ? pages[page].size() : 0; }
};

inline ReadResult ReadPages(FaxConvertData& cvt, const std::string& name, size_t keep = 256,
                            size_t maxLines = 200000) {
  ReadResult r;
  cvt.currentPage = 0;
  r.rc = cvt.openInput(cvt, name);
  if (r.rc != 0) return r;
  bool more = true;
  size_t total = 0;
  while (more && r.rc == 0) {
    ++cvt.currentPage;
    cvt.currentLine = 0;
    r.pages.emplace_back();
    for (;;) {
      std::memset(cvt.rasterBuffer.get(), 0, kRasterBufferSize);
      ++cvt.currentLine;
      int len = 0;
      bool endOfPage = false;
      bool morePages = false;
      r.rc = cvt.readLine(cvt, cvt.rasterBuffer.get(), len, endOfPage, morePages);
      if (r.rc != 0) break;
      if (endOfPage) {
        more = morePages;
        break;
      }
      more = morePages;
      r.pages.back().emplace_back(cvt.rasterBuffer.get(), cvt.rasterBuffer.get() + keep);
      r.lens.push_back(len);
      if (++total > maxLines) {
        r.rc = 1;  // the reader did not end its page
        break;
      }
    }
  }
  cvt.closeInput(cvt);
  return r;
}

// The pixel at x of a raster line (1 = black).
inline bool Black(const std::vector<uint8_t>& line, size_t x) {
  return x / 8 < line.size() && (line[x / 8] >> (7 - x % 8)) & 1;
}

inline size_t CountBlack(const std::vector<uint8_t>& line) {
  size_t n = 0;
  for (uint8_t b : line) n += static_cast<size_t>(__builtin_popcount(b));
  return n;
}

// Decodes every page of an APF file into lines of 256 bytes (1 = black).
inline std::vector<std::vector<std::vector<uint8_t>>> DecodeApfPages(const std::string& path) {
  std::vector<std::vector<std::vector<uint8_t>>> pages;
  std::unique_ptr<FaxUnpackData> u;
  if (CreateFaxUnpacker(u, nullptr,
                        [&pages](FaxUnpackData&, unsigned what, const uint8_t* data, int len,
                                 int) {
                          if (what == ulStart) pages.emplace_back();
                          if (what == ulData) {
                            std::vector<uint8_t> line(256, 0);
                            std::memcpy(line.data(), data, static_cast<size_t>(len < 256 ? len : 256));
                            pages.back().push_back(line);
                          }
                          return 0;
                        }) != 0) {
    return pages;
  }
  ClearUnpackerFlags(*u, ufYield | ufDoubleHeight | ufHalfWidth);
  ApfFileHeader header;
  if (ReadApfFileHeader(path, header) != 0) return pages;
  for (int p = 1; p <= header.pageCount; ++p) {
    if (DecodeFaxPage(*u, path, p) != 0) break;
  }
  return pages;
}

// A line moved right by n pixels (bits shifted out at the end are lost).
inline std::vector<uint8_t> ShiftRight(const std::vector<uint8_t>& line, size_t n) {
  std::vector<uint8_t> out(line.size(), 0);
  for (size_t x = 0; x + n < line.size() * 8; ++x) {
    if (Black(line, x)) out[(x + n) / 8] |= static_cast<uint8_t>(0x80 >> ((x + n) % 8));
  }
  return out;
}

}  // namespace tv::testing
