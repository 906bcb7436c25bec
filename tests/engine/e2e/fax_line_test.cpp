// telvane-fax against spandsp's fax terminal through telvane-line, in real
// time. Skipped while either program is missing from the build.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <tiffio.h>

#include "engine/files/apf_layout.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

const std::string kLine = std::string(TELVANE_BUILD_DIR) + "/tools/telvane-line/telvane-line";
const std::string kFax = std::string(TELVANE_BUILD_DIR) + "/tools/telvane-fax/telvane-fax";

std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  status = pclose(pipe);
  return out;
}

bool ToolsPresent() {
  if (!fs::exists(kLine) || !fs::exists(kFax)) return false;
  int status = 0;
  return RunCommand(kFax + " --help", status).find("telvane-fax send") != std::string::npos;
}

// One page of 200 coded lines: white lines with a black bar in the middle.
std::string WriteApf(const fs::path& path, int pages) {
  std::vector<uint8_t> bytes;
  auto header = MakeApfFileHeader(0, "TELVANE", static_cast<uint16_t>(pages));
  bytes.insert(bytes.end(), header.begin(), header.end());
  for (int p = 0; p < pages; ++p) {
    std::vector<uint8_t> data;
    for (int line = 0; line < 200; ++line) {
      std::vector<uint8_t> record = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
      data.push_back(static_cast<uint8_t>(record.size()));
      data.push_back(0);
      data.insert(data.end(), record.begin(), record.end());
    }
    std::vector<uint8_t> eop = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
    data.push_back(12);
    data.push_back(0);
    data.insert(data.end(), eop.begin(), eop.end());
    auto page = MakeApfPageHeader(static_cast<uint32_t>(data.size()), pfLineRecords);
    bytes.insert(bytes.end(), page.begin(), page.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), bytes.size());
  return path.string();
}

// One G3 page of 200 rows at 204x98 with a black bar, for the far end to send.
bool WriteTiff(const fs::path& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1728);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 200);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 98.0f);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 200);
  std::vector<uint8_t> row(216, 0);
  bool ok = true;
  for (uint32_t y = 0; y < 200 && ok; ++y) {
    std::fill(row.begin(), row.end(), 0);
    if (y > 50 && y < 150) std::fill(row.begin() + 80, row.begin() + 136, 0xFF);
    ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
  }
  TIFFClose(tif);
  return ok;
}

struct LineFixture : testing::Test {
  fs::path dir;
  LineFixture() {
    dir = fs::temp_directory_path() /
          ("tv-engine-e2e-" + std::to_string(::getpid()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir / "rx");
  }
  ~LineFixture() override { fs::remove_all(dir); }

  // Runs the line in the background, sends a fax through it and returns
  // the line's result line and the tool's output.
  void Send(const std::string& lineOptions, const std::string& faxOptions, int pages,
            std::string& result, std::string& toolOutput, int& toolStatus) {
    std::string link = (dir / "modem").string();
    std::string lineOut = (dir / "line.out").string();
    std::string command = kLine + " --answer " + (dir / "rx").string() + " --link " + link +
                          " --timeout 300 " + lineOptions + " > " + lineOut + " 2>&1 &";
    ASSERT_EQ(0, std::system(command.c_str()));
    for (int i = 0; i < 100 && !fs::exists(link); ++i) usleep(50000);
    ASSERT_TRUE(fs::exists(link)) << "telvane-line gave no modem";
    std::string apf = WriteApf(dir / "OUT.APF", pages);
    toolOutput = RunCommand(kFax + " send --port " + link + " --to 5551234 --station-id \"+49 30 1\" " +
                         faxOptions + " " + apf,
                     toolStatus);
    for (int i = 0; i < 200; ++i) {
      std::ifstream in(lineOut);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      size_t at = text.find("result:");
      if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
        result = text.substr(at, text.find('\n', at) - at);
        return;
      }
      usleep(100000);
    }
  }
};

TEST_F(LineFixture, SendsAPageAtEachSpeedTheFarEndOffers) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax send is not built";
  struct Case { const char* line; const char* bps; const char* rate; };
  const Case cases[] = {{"", "--bps 14400", "bitrate=14400"},
                        {"", "--bps 12000", "bitrate=12000"},
                        {"", "--bps 9600", "bitrate=9600"},
                        {"--modems v29", "--bps 14400", "bitrate=9600"},
                        {"--modems v27ter", "--bps 14400", "bitrate=4800"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string result, output;
    int status = -1;
    Send(c.line, c.bps, 1, result, output, status);
    EXPECT_EQ(0, status) << output;
    EXPECT_NE(std::string::npos, result.find("pages=1")) << result;
    EXPECT_NE(std::string::npos, result.find(c.rate)) << result;
  }
}

TEST_F(LineFixture, ReceivesAV17PageFromTheFarEnd) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax is not built";
  ASSERT_TRUE(WriteTiff(dir / "in.tif"));
  std::string link = (dir / "modem").string();
  std::string lineOut = (dir / "line.out").string();
  std::string command = kLine + " --call " + (dir / "in.tif").string() + " --link " + link +
                        " --timeout 120 > " + lineOut + " 2>&1 &";
  ASSERT_EQ(0, std::system(command.c_str()));
  for (int i = 0; i < 100 && !fs::exists(link); ++i) usleep(50000);
  ASSERT_TRUE(fs::exists(link)) << "telvane-line gave no modem";
  int status = -1;
  std::string output = RunCommand(
      kFax + " receive --port " + link + " --once --dir " + (dir / "rx").string(), status);
  EXPECT_EQ(0, status) << output;
  EXPECT_TRUE(fs::exists(dir / "rx" / "FAX0001.APF")) << output;
  std::string result;
  for (int i = 0; i < 100 && result.empty(); ++i) {
    std::ifstream in(lineOut);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = text.find("result:");
    if (at != std::string::npos && text.find('\n', at) != std::string::npos)
      result = text.substr(at, text.find('\n', at) - at);
    else
      usleep(100000);
  }
  EXPECT_NE(std::string::npos, result.find("pages=1")) << result;
  EXPECT_NE(std::string::npos, result.find("bitrate=14400")) << result;
}

}  // namespace
}  // namespace tv
