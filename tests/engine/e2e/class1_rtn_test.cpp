// RTN from spandsp's fax terminal through telvane-line, in real time. A page
// whose rows are all 64 pixels long is a bad page to any receiver, so every
// send of it is answered with RTN: the engine trains again one speed lower
// (DCS, TCF with V.17's long training, CFR) and sends the page again, until
// no lower speed is left. Skipped while either program is missing.
#include "class1_line_calls.h"

namespace tv::e2e {
namespace {

// Page 1: 200 rows of a 64-pixel white run (EOL, make-up 64, terminating 0,
// in the modem's bit order); page 2: a good white page.
std::string WriteBadPageFax(const fs::path& path) {
  const std::vector<uint8_t> shortRow = {0x00, 0x80, 0x9B, 0x15, 0x00};
  const std::vector<uint8_t> whiteRow = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
  const std::vector<uint8_t> eop = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00,
                                    0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
  ApfFileHeader file = NewApfFileHeader();
  file.pageCount = 2;
  std::vector<uint8_t> bytes(kApfFileHeaderSize);
  PackApfFileHeader(file, bytes.data());
  for (const auto* row : {&shortRow, &whiteRow}) {
    std::vector<uint8_t> data;
    auto record = [&data](const std::vector<uint8_t>& r) {
      data.push_back(static_cast<uint8_t>(r.size()));
      data.push_back(0);
      data.insert(data.end(), r.begin(), r.end());
    };
    for (int i = 0; i < 200; ++i) record(*row);
    record(eop);
    uint8_t page[kApfPageHeaderSize];
    PackApfPageHeader(ApfPageHeader{static_cast<uint32_t>(data.size()), pfLineRecords}, page);
    bytes.insert(bytes.end(), page, page + kApfPageHeaderSize);
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  return path.string();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(LineCall, RtnRetrainsOneSpeedLowerAndSendsThePageAgain) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax send is not built";
  std::string apf = WriteBadPageFax(dir / "BAD.APF");
  std::string link = NewLink();
  ASSERT_TRUE(StartLine("--answer " + (dir / "rx").string() + " --log", link));
  int status = -1;
  std::string output =
      RunCommand(kFax + " send --port " + link + " --to 5551234 --bps 14400 " + apf, status);
  std::string result = LineResult();
  std::string log = ReadFile(lineErr);
  // 14400, 12000, 9600, 7200, 4800, 2400: six sends, six RTNs, then the
  // speeds are used up.
  EXPECT_NE(0, status);
  EXPECT_NE(std::string::npos, output.find("Modems failed to train")) << output;
  EXPECT_EQ(6u, Count(log, "Tx:  RTN")) << result;
  EXPECT_EQ(6u, Count(log, "Rx:  DCS")) << result;
  EXPECT_EQ(6u, Count(log, "Tx:  CFR")) << result;  // every retraining was good
  EXPECT_EQ(6u, Count(log, "Bad rows = 200")) << result;  // the same page each time
  EXPECT_EQ(0u, Count(log, "Unexpected")) << result;
  // The modem's log: each speed once for the TCF and once for the page, one
  // lower each time; V.17 trains long for the TCF and short for the page.
  struct Step { const char* training; size_t count; };
  const Step steps[] = {{"Short training = 0, bit rate = 14400", 1},
                        {"Short training = 1, bit rate = 14400", 1},
                        {"Short training = 0, bit rate = 12000", 1},
                        {"Short training = 1, bit rate = 12000", 1},
                        {"Short training = 0, bit rate = 9600", 2},
                        {"Short training = 0, bit rate = 7200", 2},
                        {"Short training = 0, bit rate = 4800", 2},
                        {"Short training = 0, bit rate = 2400", 2}};
  for (const Step& step : steps) EXPECT_EQ(step.count, Count(log, step.training)) << step.training;
}

}  // namespace
}  // namespace tv::e2e
