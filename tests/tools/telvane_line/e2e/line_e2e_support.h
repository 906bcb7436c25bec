// Helpers of the end-to-end tests of the virtual fax line: test pages, TIFF
// files, child processes and their output.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace line_e2e {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<uint8_t>>;

constexpr int kWidth = 1728;
constexpr int kRows = 500;

// A page whose rows are all different: each carries its row number as a bar
// code, plus a slanted line, so that a shifted or damaged row shows. The
// variant moves the slanted line, so that the pages of a document differ.
inline Rows TestPage(int variant = 0) {
  Rows rows(kRows, std::vector<uint8_t>(kWidth / 8, 0));
  for (int r = 0; r < kRows; ++r) {
    auto set = [&](int x) { rows[r][x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8)); };
    for (int bit = 0; bit < 10; ++bit) {
      if ((r >> bit) & 1) {
        for (int x = 100 + bit * 48; x < 100 + bit * 48 + 40; ++x) set(x);
      }
    }
    const int slant = 700 + (r * 2 + variant * 97) % 900;
    for (int x = slant; x < slant + 24; ++x) set(x);
  }
  return rows;
}

// Several pages in one TIFF file, as the far end sends a document.
inline void WriteTiffDocument(const std::string& path, const std::vector<Rows>& pages) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  for (size_t p = 0; p < pages.size(); ++p) {
    const Rows& rows = pages[p];
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.size()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 98.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows.size()));
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p), static_cast<uint16_t>(pages.size()));
    for (size_t r = 0; r < rows.size(); ++r) {
      std::vector<uint8_t> row = rows[r];
      ASSERT_EQ(TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(r), 0), 1);
    }
    ASSERT_EQ(TIFFWriteDirectory(tif), 1);
  }
  TIFFClose(tif);
}

inline void WriteTiff(const std::string& path, const Rows& rows) { WriteTiffDocument(path, {rows}); }

// The pages of a TIFF file as rows, or an empty list.
inline std::vector<Rows> ReadTiff(const std::string& path) {
  std::vector<Rows> pages;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return pages;
  do {
    uint32_t width = 0, length = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    Rows rows(length, std::vector<uint8_t>((width + 7) / 8));
    for (uint32_t r = 0; r < length; ++r) {
      if (TIFFReadScanline(tif, rows[r].data(), r, 0) < 0) break;
    }
    pages.push_back(std::move(rows));
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

// How many rows of `sent` from `firstRow` on appear in `got`, in order, at one
// common offset (a sender may put a header above the page).
inline int MatchingRows(const Rows& sent, const Rows& got, int firstRow) {
  int best = 0;
  for (int shift = -40; shift <= 40; ++shift) {
    int same = 0;
    for (int r = firstRow; r < static_cast<int>(sent.size()); ++r) {
      const int g = r + shift;
      if (g >= 0 && g < static_cast<int>(got.size()) && got[g] == sent[r]) ++same;
    }
    best = std::max(best, same);
  }
  return best;
}

struct Child {
  pid_t pid = -1;
  int out = -1;  // its standard output, when captured
};

inline Child Spawn(const std::vector<std::string>& args, const std::string& logFile, bool captureOut) {
  int fds[2] = {-1, -1};
  if (captureOut && pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, 2);
    dup2(captureOut ? fds[1] : log, 1);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  Child c;
  c.pid = pid;
  if (captureOut) {
    close(fds[1]);
    c.out = fds[0];
  }
  return c;
}

// Exit status, or -1 after killing a child that outlived the time limit.
inline int Wait(Child& c, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (waitpid(c.pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(c.pid, SIGTERM);
      std::this_thread::sleep_for(std::chrono::seconds(2));
      kill(c.pid, SIGKILL);
      waitpid(c.pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads from a child's output until `lines` lines have arrived or EOF/time-out.
inline std::string ReadLines(int fd, int lines, double seconds) {
  std::string text;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::count(text.begin(), text.end(), '\n') < lines) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now()).count();
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[512];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

inline std::string FileText(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return "";
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

}  // namespace line_e2e
