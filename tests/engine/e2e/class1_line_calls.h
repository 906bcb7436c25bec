// Calls of telvane-fax through telvane-line with spandsp's fax terminal as
// the far end, in real time, and the page comparisons that check them: the
// pages are decoded on both sides (our APF files with the images code, the
// far end's TIFF files with libtiff) and compared line by line.
//
// The tests run a covering set of calls (make test runs the programs one
// after another: calls are timed by the line's real-time audio). With TELVANE_LINE_MATRIX=1 in the
// environment they run the whole matrix instead (scripts/engine-line-matrix.sh).
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <tiffio.h>

#include "images/unpack/fax_unpacker.h"

namespace tv::e2e {

namespace fs = std::filesystem;

inline const std::string kLine = std::string(TELVANE_BUILD_DIR) + "/tools/telvane-line/telvane-line";
inline const std::string kFax = std::string(TELVANE_BUILD_DIR) + "/tools/telvane-fax/telvane-fax";

inline bool FullMatrix() {
  const char* v = std::getenv("TELVANE_LINE_MATRIX");
  return v && *v && std::string(v) != "0";
}

// One call of the speed matrix: pages, resolution and DesiredBPS.
struct MatrixCall { int pages; bool fine; int bps; };

// The given calls, or with TELVANE_LINE_MATRIX set every combination of 1 and
// 3 pages, normal and fine, at 14400, 9600 and 4800.
inline std::vector<MatrixCall> MatrixCalls(std::vector<MatrixCall> calls) {
  if (!FullMatrix()) return calls;
  calls.clear();
  for (int bps : {14400, 9600, 4800})
    for (bool fine : {false, true})
      for (int pages : {1, 3}) calls.push_back({pages, fine, bps});
  return calls;
}

inline std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  status = pclose(pipe);
  return out;
}

inline bool ToolsPresent() {
  if (!fs::exists(kLine) || !fs::exists(kFax)) return false;
  int status = 0;
  return RunCommand(kFax + " --help", status).find("telvane-fax send") != std::string::npos;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One page as raster rows (bit 7 of byte 0 leftmost, 1 = black).
struct RasterPage {
  int bytesPerRow = 216;
  bool fine = false;
  std::vector<std::vector<uint8_t>> rows;
};

// Decodes every page of an APF file as stored: no doubling, no blank-line
// compression; a blank line becomes a white row.
inline std::vector<RasterPage> DecodeApf(const std::string& path) {
  std::vector<RasterPage> pages;
  std::unique_ptr<FaxUnpackData> u;
  if (CreateFaxUnpacker(u, nullptr, nullptr) != 0) return pages;
  ClearUnpackerFlags(*u, ufYield | ufDoubleHeight | ufHalfWidth);
  RasterPage* page = nullptr;
  u->lineCallback = [&](FaxUnpackData& d, unsigned what, const uint8_t* data, int len, int) {
    if (what == ulStart) {
      pages.emplace_back();
      page = &pages.back();
      page->bytesPerRow = (d.pageHeader.pageFlags & 2) ? 256 : 216;
      page->fine = (d.pageHeader.pageFlags & 1) != 0;
    } else if (what == ulData && page) {
      std::vector<uint8_t> row(static_cast<size_t>(page->bytesPerRow), 0);
      for (int i = 0; i < len && i < page->bytesPerRow; ++i) row[static_cast<size_t>(i)] = data[i];
      page->rows.push_back(std::move(row));
    }
    return 0;
  };
  for (int n = 1; DecodeFaxPage(*u, path, n) == 0; ++n) {
  }
  return pages;
}

inline std::vector<RasterPage> ReadTiff(const std::string& path) {
  std::vector<RasterPage> pages;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return pages;
  do {
    RasterPage page;
    uint32_t width = 0, length = 0;
    float yres = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit == RESUNIT_CENTIMETER) yres *= 2.54f;
    page.bytesPerRow = static_cast<int>(width / 8);
    page.fine = yres > 150;
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t y = 0; y < length; ++y) {
      if (TIFFReadScanline(tif, row.data(), y, 0) < 0) break;
      page.rows.emplace_back(row.begin(), row.begin() + page.bytesPerRow);
    }
    pages.push_back(std::move(page));
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

inline bool WriteTiff(const std::string& path, const std::vector<RasterPage>& pages) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  bool ok = true;
  for (size_t p = 0; p < pages.size() && ok; ++p) {
    const RasterPage& page = pages[p];
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(page.bytesPerRow * 8));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.rows.size()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, page.fine ? 196.0f : 98.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.rows.size()));
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p), static_cast<uint16_t>(pages.size()));
    for (size_t y = 0; y < page.rows.size() && ok; ++y) {
      std::vector<uint8_t> row = page.rows[y];
      ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) >= 0;
    }
    ok = ok && TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  return ok;
}

inline int CountBlack(const std::vector<uint8_t>& row) {
  int n = 0;
  for (uint8_t b : row) n += __builtin_popcount(b);
  return n;
}

struct LineCall : testing::Test {
  fs::path dir;
  std::string lineOut, lineErr;
  int calls = 0;

  LineCall() {
    dir = fs::temp_directory_path() /
          ("tv-class1-e2e-" + std::to_string(::getpid()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir / "rx");
    lineOut = (dir / "line.out").string();
    lineErr = (dir / "line.err").string();
  }
  ~LineCall() override { fs::remove_all(dir); }

  // A fax of text pages made by telvane-fax convert: each page holds
  // linesPerPage lines of its own text.
  std::string MakeTextFax(const std::string& name, int pages, bool fine, int linesPerPage = 12) {
    std::string text;  // the converter breaks the pages after linesPerPage lines
    for (int p = 1; p <= pages; ++p) {
      for (int i = 1; i <= linesPerPage; ++i)
        text += "Page " + std::to_string(p) + " line " + std::to_string(i) +
                ": the quick brown fox jumps over the lazy dog 0123456789 " +
                std::string(static_cast<size_t>((p * 7 + i * 3) % 20), '#') + "\n";
    }
    fs::path txt = dir / (name + ".txt");
    std::ofstream(txt) << text;
    std::string apf = (dir / (name + ".APF")).string();
    int status = -1;
    std::string out = RunCommand(kFax + " convert " + txt.string() + " -o " + apf +
                                     (fine ? " --fine" : "") + " --lines-per-page " +
                                     std::to_string(linesPerPage),
                                 status);
    EXPECT_EQ(0, status) << out;
    return apf;
  }

  // A fresh modem link for each call: the last call's line may still be
  // winding down on its own link.
  std::string NewLink() { return (dir / ("modem" + std::to_string(++calls))).string(); }

  // Starts telvane-line in the background and waits for its modem.
  bool StartLine(const std::string& options, const std::string& link) {
    lineOut = (dir / ("line" + std::to_string(calls) + ".out")).string();
    lineErr = (dir / ("line" + std::to_string(calls) + ".err")).string();
    std::string command = kLine + " " + options + " --link " + link + " --timeout 400 > " + lineOut +
                          " 2> " + lineErr + " &";
    if (std::system(command.c_str()) != 0) return false;
    for (int i = 0; i < 100 && !fs::exists(link); ++i) usleep(50000);
    return fs::exists(link);
  }

  // The line's result line, once it is there (at most `seconds`).
  std::string LineResult(int seconds = 30) {
    for (int i = 0; i < seconds * 10; ++i) {
      std::string text = ReadFile(lineOut);
      size_t at = text.find("result:");
      if (at != std::string::npos && text.find('\n', at) != std::string::npos)
        return text.substr(at, text.find('\n', at) - at);
      usleep(100000);
    }
    return "";
  }

  // The received TIFF named in the line's result.
  static std::string ResultFile(const std::string& result) {
    size_t at = result.find("file=\"");
    if (at == std::string::npos) return "";
    size_t end = result.find('"', at + 6);
    return result.substr(at + 6, end - at - 6);
  }
};

// Sent page against received page: the far end's page is the sent page
// below the rows Telvane puts on top (8 white lines and the header line's
// rows); those must be there, white lines first.
inline void ExpectSentPage(const RasterPage& sent, const RasterPage& got, size_t headerRows,
                           int page) {
  SCOPED_TRACE(testing::Message() << "page " << page);
  EXPECT_EQ(sent.bytesPerRow, got.bytesPerRow);
  EXPECT_EQ(sent.fine, got.fine);
  ASSERT_EQ(sent.rows.size() + 8 + headerRows, got.rows.size());
  for (size_t y = 0; y < 8; ++y) EXPECT_EQ(0, CountBlack(got.rows[y])) << "white line " << y;
  int headerBlack = 0;
  for (size_t y = 8; y < 8 + headerRows; ++y) headerBlack += CountBlack(got.rows[y]);
  if (headerRows > 0) {
    EXPECT_GT(headerBlack, 0) << "no header line";
  }
  size_t mismatches = 0;
  for (size_t y = 0; y < sent.rows.size(); ++y)
    if (sent.rows[y] != got.rows[y + 8 + headerRows]) ++mismatches;
  EXPECT_EQ(0u, mismatches) << "of " << sent.rows.size() << " rows";
}

inline void ExpectSamePage(const RasterPage& sent, const RasterPage& got, int page) {
  SCOPED_TRACE(testing::Message() << "page " << page);
  EXPECT_EQ(sent.bytesPerRow, got.bytesPerRow);
  EXPECT_EQ(sent.fine, got.fine);
  ASSERT_EQ(sent.rows.size(), got.rows.size());
  size_t mismatches = 0;
  for (size_t y = 0; y < sent.rows.size(); ++y)
    if (sent.rows[y] != got.rows[y]) ++mismatches;
  EXPECT_EQ(0u, mismatches) << "of " << sent.rows.size() << " rows";
}

// Joins the pages of several APF files into one.
inline std::string JoinApf(const fs::path& out, const std::vector<std::string>& files) {
  std::vector<uint8_t> pages;
  ApfFileHeader joined = NewApfFileHeader();
  for (const std::string& file : files) {
    std::string bytes = ReadFile(file);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    ApfFileHeader header;
    UnpackApfFileHeader(p, header);
    size_t at = header.firstPageOffset;
    for (int n = 0; n < header.pageCount; ++n) {
      ApfPageHeader page;
      UnpackApfPageHeader(p + at, page);
      pages.insert(pages.end(), p + at, p + at + kApfPageHeaderSize + page.dataLength);
      at += kApfPageHeaderSize + page.dataLength;
      ++joined.pageCount;
    }
  }
  uint8_t header[kApfFileHeaderSize];
  PackApfFileHeader(joined, header);
  std::ofstream stream(out, std::ios::binary);
  stream.write(reinterpret_cast<const char*>(header), kApfFileHeaderSize);
  stream.write(reinterpret_cast<const char*>(pages.data()), static_cast<long>(pages.size()));
  return out.string();
}

struct SendCall : LineCall {
  // Sends the fax and checks every page the far end stored.
  void SendAndCompare(const std::string& apf, const std::string& lineOptions, int bps,
                      const std::string& expectRate) {
    std::string link = NewLink();
    ASSERT_TRUE(StartLine("--answer " + (dir / "rx").string() + " " + lineOptions, link))
        << "telvane-line gave no modem";
    int status = -1;
    std::string output =
        RunCommand(kFax + " send --port " + link + " --to 5551234 --station-id \"+49 30 1\"" +
                       " --header \"\\$I page \\$P of \\$N\" --bps " + std::to_string(bps) + " " + apf,
                   status);
    std::string result = LineResult();
    std::vector<RasterPage> sent = DecodeApf(apf);
    EXPECT_EQ(0, status) << output;
    EXPECT_NE(std::string::npos, result.find("pages=" + std::to_string(sent.size()))) << result;
    EXPECT_NE(std::string::npos, result.find("bitrate=" + expectRate)) << result;
    std::vector<RasterPage> got = ReadTiff(ResultFile(result));
    ASSERT_EQ(sent.size(), got.size()) << result;
    for (size_t p = 0; p < sent.size(); ++p)
      ExpectSentPage(sent[p], got[p], sent[p].fine ? 16 : 8, static_cast<int>(p + 1));
  }
};

}  // namespace tv::e2e
