// APF headers, page walking, line records and the writer's order and clean-up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "images/apf/apf_file.h"
#include "platform/core/error_codes.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class ApfFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(TELVANE_BUILD_DIR) / "tmp-images-apf" /
           testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  static std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  // A file of three pages: normal, wide and fine, with 3, 5 and 1 data bytes.
  std::string ThreePages() {
    ApfWriter w;
    const std::string p = Path("three.apf");
    EXPECT_EQ(w.Create(p), 0);
    const uint16_t flags[3] = {pfLineRecords, pfLineRecords | pfWide, pfHighRes};
    const std::vector<uint8_t> data[3] = {{1, 2, 3}, {4, 5, 6, 7, 8}, {9}};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(w.BeginPage(flags[i]), 0);
      EXPECT_EQ(w.Write(data[i].data(), data[i].size()), 0);
      EXPECT_EQ(w.EndPage(), 0);
    }
    EXPECT_EQ(w.Finish("STATION", 0x5B8B6A6F), 0);
    return p;
  }
  fs::path dir_;
};

TEST_F(ApfFileTest, WriterLaysOutHeadersAndPages) {
  const auto file = ReadAll(ThreePages());
  ASSERT_EQ(file.size(), 64u + 3 * 16 + 3 + 5 + 1);
  ApfFileHeader h;
  UnpackApfFileHeader(file.data(), h);
  EXPECT_TRUE(h.HasSignature());
  EXPECT_EQ(h.pageCount, 3);
  EXPECT_EQ(h.firstPageOffset, 64u);
  EXPECT_EQ(h.fileTime, 0x5B8B6A6Fu);
  EXPECT_EQ(h.StationId(), "STATION");
  EXPECT_EQ(std::string(h.stationId, 20), "STATION             ");
  // Page 2's header follows page 1's data.
  ApfPageHeader p2;
  UnpackApfPageHeader(file.data() + 64 + 16 + 3, p2);
  EXPECT_EQ(p2.dataLength, 5u);
  EXPECT_EQ(p2.pageFlags, pfLineRecords | pfWide);
}

TEST_F(ApfFileTest, SeekFindsEachPageAndRefusesOthers) {
  const std::string path = ThreePages();
  ApfFileHeader h;
  ASSERT_EQ(ReadApfFileHeader(path, h), 0);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  const struct { int page; uint32_t length; uint16_t flags; int firstByte; } pages[] = {
      {3, 1, pfHighRes, 9}, {1, 3, pfLineRecords, 1}, {2, 5, pfLineRecords | pfWide, 4}};
  for (const auto& p : pages) {
    ApfPageHeader ph;
    ASSERT_EQ(SeekApfPage(f, h, p.page, ph), 0);
    EXPECT_EQ(ph.dataLength, p.length);
    EXPECT_EQ(ph.pageFlags, p.flags);
    EXPECT_EQ(std::fgetc(f), p.firstByte);
  }
  ApfPageHeader ph;
  EXPECT_EQ(SeekApfPage(f, h, 4, ph), ecBadFaxFormat);
  EXPECT_EQ(SeekApfPage(f, h, 0, ph), ecBadFaxFormat);
  h.pageCount = 0;
  EXPECT_EQ(SeekApfPage(f, h, 1, ph), ecBadFaxFormat);
  std::fclose(f);
}

TEST_F(ApfFileTest, HeaderReadingErrors) {
  ApfFileHeader h;
  EXPECT_EQ(ReadApfFileHeader("", h), -ecFileNotFound);
  EXPECT_EQ(ReadApfFileHeader(Path("missing.apf"), h), -ecFileNotFound);
  std::vector<uint8_t> other(64, 'x');
  WriteFile("other.apf", other);
  EXPECT_EQ(ReadApfFileHeader(Path("other.apf"), h), ecBadFaxFormat);
  WriteFile("short.apf", {'A', 'P', 'F', '1', '0', 0x1A, 0});
  EXPECT_EQ(ReadApfFileHeader(Path("short.apf"), h), -ecReadBeyondEOF);
  EXPECT_TRUE(IsApfFile(Path("short.apf")));
  EXPECT_FALSE(IsApfFile(Path("other.apf")));
  EXPECT_FALSE(IsApfFile(Path("missing.apf")));
  EXPECT_FALSE(IsApfFile(dir_.string()));
  EXPECT_FALSE(IsApfFile(""));
}

TEST_F(ApfFileTest, LineRecordsAreCutAt4096Bytes) {
  // A record claiming 5000 bytes: the reader takes 4096 and reads the next
  // two bytes as the following count.
  std::vector<uint8_t> bytes = {0x88, 0x13};
  for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<uint8_t>(i));
  bytes.push_back(0x01);
  bytes.push_back(0x00);
  bytes.push_back(0xEE);
  WriteFile("records", bytes);
  std::FILE* f = std::fopen(Path("records").c_str(), "rb");
  std::vector<uint8_t> buf(kApfMaxRecordBytes);
  EXPECT_EQ(ReadLineRecord(f, buf.data()), 4096);
  EXPECT_EQ(buf[4095], static_cast<uint8_t>(4095));
  // Bytes 4096 and 4097 of the long record's data (0x00, 0x01) are the next count.
  EXPECT_EQ(ReadLineRecord(f, buf.data()), 0x0100);
  EXPECT_EQ(buf[0], static_cast<uint8_t>(4098));
  std::fclose(f);
  // A record cut by the end of the file is a read error.
  WriteFile("cut", {0x05, 0x00, 1, 2});
  f = std::fopen(Path("cut").c_str(), "rb");
  EXPECT_EQ(ReadLineRecord(f, buf.data()), -ecReadBeyondEOF);
  std::fclose(f);
}

TEST_F(ApfFileTest, AbandonedWriterDeletesItsFile) {
  const std::string p = Path("partial.apf");
  {
    ApfWriter w;
    ASSERT_EQ(w.Create(p), 0);
    ASSERT_EQ(w.BeginPage(pfLineRecords), 0);
    const uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(w.Write(data, 3), 0);
    EXPECT_TRUE(fs::exists(p));
  }  // destroyed before Finish
  EXPECT_FALSE(fs::exists(p));
  ApfWriter w;
  EXPECT_LT(w.Create(Path("no-such-folder/x.apf")), 0);
}

TEST(ApfDosTime, PacksDateAndTime) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 11;
  t.tm_hour = 13;
  t.tm_min = 20;
  t.tm_sec = 31;
  EXPECT_EQ(PackDosDateTime(t), (((46u << 9) | (12u << 5) | 11u) << 16) | ((13u << 11) | (20u << 5) | 15u));
  t.tm_year = 1979 - 1900;
  EXPECT_EQ(PackDosDateTime(t), 0u);
  t.tm_year = 2100 - 1900;
  EXPECT_EQ(PackDosDateTime(t), 0u);
}

}  // namespace
}  // namespace tv
