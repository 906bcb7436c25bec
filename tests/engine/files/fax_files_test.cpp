#include "engine/files/fax_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/files/apf_layout.h"
#include "platform/core/error_codes.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

struct FilesFixture : testing::Test {
  fs::path dir;
  FilesFixture() {
    dir = fs::temp_directory_path() /
          ("tv-engine-files-" + std::to_string(::getpid()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  ~FilesFixture() override { fs::remove_all(dir); }

  // Page 1: line records (fine), page 2: raw data of 5000 bytes (normal).
  std::string WriteSample(const std::string& name) {
    std::vector<uint8_t> bytes;
    auto header = MakeApfFileHeader(0, "SENDER", 2);
    bytes.insert(bytes.end(), header.begin(), header.end());
    std::vector<uint8_t> records = {6, 0, 0x00, 0x80, 0xB2, 0x59, 0x01, 0x00,
                                    2, 0, 0x10, 0x20};
    auto page1 = MakeApfPageHeader(static_cast<uint32_t>(records.size()), pfLineRecords | pfHighRes);
    bytes.insert(bytes.end(), page1.begin(), page1.end());
    bytes.insert(bytes.end(), records.begin(), records.end());
    auto page2 = MakeApfPageHeader(5000, 0);
    bytes.insert(bytes.end(), page2.begin(), page2.end());
    for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<uint8_t>(i));
    std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), bytes.size());
    return path;
  }
};

TEST_F(FilesFixture, OpensWithTheDefaultExtensionAndRefusesOtherFiles) {
  WriteSample("FAX.APF");
  FaxFileReader reader;
  EXPECT_EQ(ecOK, reader.Open((dir / "FAX").string(), "APF"));
  EXPECT_EQ(2, reader.PageCount());
  std::ofstream((dir / "TEXT.APF").string()) << std::string(80, 'x');
  EXPECT_EQ(ecBadFaxFormat, reader.Open((dir / "TEXT").string(), "APF"));
  EXPECT_EQ(ecFileNotFound, reader.Open((dir / "NONE.APF").string(), "APF"));
}

TEST_F(FilesFixture, ReadsLineRecordsPaddedAndRawPagesInBlocks) {
  FaxFileReader reader;
  ASSERT_EQ(ecOK, reader.Open(WriteSample("FAX.APF"), "APF"));
  EXPECT_EQ(-100, reader.SeekPage(0));
  EXPECT_EQ(-100, reader.SeekPage(3));
  ASSERT_EQ(ecOK, reader.SeekPage(1));
  EXPECT_TRUE(reader.LineRecords());
  EXPECT_EQ(pfLineRecords | pfHighRes, reader.PageFlags());
  std::vector<uint8_t> block;
  long counted = 0;
  ASSERT_EQ(ecOK, reader.ReadBlock(block, 4, counted));
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}), block);
  EXPECT_EQ(8, counted);
  ASSERT_EQ(ecOK, reader.ReadBlock(block, 4, counted));
  EXPECT_EQ((std::vector<uint8_t>{0x10, 0x20, 0x00, 0x00}), block);  // padded to 4
  EXPECT_EQ(4, counted);
  EXPECT_TRUE(reader.AtPageEnd());

  ASSERT_EQ(ecOK, reader.SeekPage(2));
  EXPECT_FALSE(reader.LineRecords());
  ASSERT_EQ(ecOK, reader.ReadBlock(block, 100, counted));
  EXPECT_EQ(4096u, block.size());
  ASSERT_EQ(ecOK, reader.ReadBlock(block, 100, counted));
  EXPECT_EQ(904u, block.size());
  EXPECT_EQ(static_cast<uint8_t>(4999), block.back());
  EXPECT_TRUE(reader.AtPageEnd());
  ASSERT_EQ(ecOK, reader.RewindPage());
  ASSERT_EQ(ecOK, reader.ReadBlock(block, 0, counted));
  EXPECT_EQ(0, block[0]);
}

TEST_F(FilesFixture, WritesReceivedPagesAndCountsEachFinishedPage) {
  std::string path = (dir / "FAX0001.APF").string();
  FaxFileWriter writer;
  ASSERT_EQ(ecOK, writer.Create(path, "REMOTE"));
  for (int page = 0; page < 3; ++page) {
    ASSERT_EQ(ecOK, writer.StartPage(page == 1, page == 2));
    for (int i = 0; i < 5000 + page; ++i) ASSERT_EQ(ecOK, writer.StoreByte(static_cast<uint8_t>(i)));
    ASSERT_EQ(ecOK, writer.FinishPage("REMOTE ID"));
    FaxFileReader reader;
    ASSERT_EQ(ecOK, reader.Open(path, "APF"));
    EXPECT_EQ(page + 1, reader.PageCount());  // counted even before the call ends
  }
  ASSERT_EQ(ecOK, writer.Close());
  FaxFileReader reader;
  ASSERT_EQ(ecOK, reader.Open(path, "APF"));
  ASSERT_EQ(ecOK, reader.SeekPage(2));
  EXPECT_EQ(5001u, reader.PageLength());
  EXPECT_EQ(pfHighRes, reader.PageFlags());
  ASSERT_EQ(ecOK, reader.SeekPage(3));
  EXPECT_EQ(pfWide, reader.PageFlags());
  std::ifstream in(path, std::ios::binary);
  uint8_t header[64];
  in.read(reinterpret_cast<char*>(header), 64);
  ApfHeaderFields fields = ParseApfFileHeader(header);
  EXPECT_EQ("REMOTE ID" + std::string(11, ' '), fields.stationId);
  EXPECT_NE(0u, fields.fileTime);
  EXPECT_EQ(64 + 3 * 16 + 5000 + 5001 + 5002, static_cast<int>(fs::file_size(path)));
}

TEST_F(FilesFixture, ADroppedPageIsCutSoThatTheResentPageTakesItsPlace) {
  std::string path = (dir / "FAX0001.APF").string();
  FaxFileWriter writer;
  ASSERT_EQ(ecOK, writer.Create(path, "R"));
  ASSERT_EQ(ecOK, writer.StartPage(false, false));
  ASSERT_EQ(ecOK, writer.StoreByte(1));
  ASSERT_EQ(ecOK, writer.FinishPage("R"));
  ASSERT_EQ(ecOK, writer.StartPage(false, false));
  ASSERT_EQ(ecOK, writer.StoreByte(2));
  ASSERT_EQ(ecOK, writer.FinishPage("R"));
  ASSERT_EQ(ecOK, writer.DropPage());  // the page status asked for it again
  EXPECT_EQ(1, writer.PageCount());
  ASSERT_EQ(ecOK, writer.StartPage(false, false));
  ASSERT_EQ(ecOK, writer.StoreByte(3));
  ASSERT_EQ(ecOK, writer.StoreByte(4));
  ASSERT_EQ(ecOK, writer.FinishPage("R"));
  ASSERT_EQ(ecOK, writer.Close());
  FaxFileReader reader;
  ASSERT_EQ(ecOK, reader.Open(path, "APF"));
  EXPECT_EQ(2, reader.PageCount());
  ASSERT_EQ(ecOK, reader.SeekPage(2));
  std::vector<uint8_t> block;
  long counted;
  ASSERT_EQ(ecOK, reader.ReadBlock(block, 0, counted));
  EXPECT_EQ((std::vector<uint8_t>{3, 4}), block);
  EXPECT_EQ(64 + 2 * 16 + 3, static_cast<int>(fs::file_size(path)));
}

TEST_F(FilesFixture, CreateFailsWithTheFileLayersCode) {
  FaxFileWriter writer;
  EXPECT_EQ(ecFileNotFound, writer.Create((dir / "missing" / "FAX0001.APF").string(), "R"));
}

}  // namespace
}  // namespace tv
