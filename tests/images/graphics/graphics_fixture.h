// Test images and the files of each graphics format written from them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "images/convert/fax_converter.h"
#include "tests/images/graphics/read_pages.h"

namespace tv::testing {

// A black-and-white image: rows of ceil(w/8) bytes, 1 = black.
struct Image {
  int width = 0, height = 0;
  std::vector<std::vector<uint8_t>> rows;
  int Bpr() const { return (width + 7) / 8; }
  bool At(int x, int y) const { return (rows[y][x / 8] >> (7 - x % 8)) & 1; }
};

// Diagonals, black at both edges, and a long black run in the last row.
inline Image Pattern(int w, int h, int seed = 0) {
  Image im{w, h, {}};
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> r(im.Bpr(), 0);
    for (int x = 0; x < w; ++x) {
      const bool black = x == 0 || x == w - 1 || (x + y + seed) % 5 == 0 || (y == h - 1 && x > w / 3);
      if (black) r[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    im.rows.push_back(r);
  }
  return im;
}

// A delivered raster line holds the image row at byte offset `at`, white
// elsewhere.
inline std::vector<uint8_t> Placed(const std::vector<uint8_t>& row, size_t at, size_t keep = 256) {
  std::vector<uint8_t> line(keep, 0);
  for (size_t i = 0; i < row.size() && at + i < keep; ++i) line[at + i] = row[i];
  return line;
}

inline void Put16(std::vector<uint8_t>& b, uint16_t v, bool be = false) {
  if (be) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
  } else {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v, bool be = false) {
  if (be) {
    Put16(b, static_cast<uint16_t>(v >> 16), true);
    Put16(b, static_cast<uint16_t>(v), true);
  } else {
    Put16(b, static_cast<uint16_t>(v));
    Put16(b, static_cast<uint16_t>(v >> 16));
  }
}

// Files in a folder of their own, removed afterwards.
class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
            std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  }

  // A converter core of one kind with placement switched off, so that rows
  // arrive at byte 0.
  template <class Create>
  std::unique_ptr<FaxConvertData> Core(Create create, uint16_t options = 0) {
    std::unique_ptr<FaxConvertData> cvt;
    EXPECT_EQ(create(cvt), 0);
    ClearConverterOptions(*cvt, 0xFFFF);
    SetConverterOptions(*cvt, options);
    return cvt;
  }

  // Every row of the image arrived, in order, on one page.
  static void ExpectImage(const ReadResult& r, const Image& im, size_t at = 0) {
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.pages.size(), 1u);
    ASSERT_EQ(r.pages[0].size(), static_cast<size_t>(im.height));
    for (int y = 0; y < im.height; ++y) {
      ASSERT_EQ(r.pages[0][y], Placed(im.rows[y], at)) << "row " << y;
    }
  }

  std::filesystem::path dir_;
};

}  // namespace tv::testing
