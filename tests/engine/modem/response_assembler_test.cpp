#include "engine/modem/response_assembler.h"

#include <gtest/gtest.h>

#include "engine/session/fax_records.h"

namespace tv {
namespace {

struct Fed {
  std::vector<std::string> lines;
  std::vector<std::string> frames;
};

Fed Feed(FaxModemData& m, const std::string& bytes) {
  Fed fed;
  for (unsigned char c : bytes) {
    switch (AssembleResponseByte(m, c)) {
      case Assembled::Line: fed.lines.push_back(m.responseLine); break;
      case Assembled::Frame: fed.frames.push_back(m.responseLine); break;
      case Assembled::Nothing: break;
    }
  }
  return fed;
}

TEST(ResponseAssembler, TextLinesAreTrimmedAndEmptyLinesSkipped) {
  FaxModemData m;
  Fed fed = Feed(m, "\r\nOK\r\n\r\n  NO CARRIER \r\n\r\nCONN");
  EXPECT_EQ((std::vector<std::string>{"OK", "NO CARRIER"}), fed.lines);
  fed = Feed(m, "ECT\r\n");
  EXPECT_EQ((std::vector<std::string>{"CONNECT"}), fed.lines);
}

TEST(ResponseAssembler, FramesUndoDleDoublingAndIgnoreCrLfInside) {
  FaxModemData m;
  std::string bytes = "\r\nCONNECT\r\n";
  bytes += std::string("\xFF\x03\x40\x10\x10\x0D\x0A\x41", 8);
  bytes += "\x10\x03";
  bytes += "\r\nOK\r\n";
  Fed fed = Feed(m, bytes);
  EXPECT_EQ((std::vector<std::string>{"CONNECT", "OK"}), fed.lines);
  ASSERT_EQ(1u, fed.frames.size());
  EXPECT_EQ(std::string("\xFF\x03\x40\x10\x0D\x0A\x41", 7), fed.frames[0]);
}

TEST(ResponseAssembler, AFinalFrameWhoseControlOctetIsXoffArrivesWhole) {
  FaxModemData m;
  Fed fed = Feed(m, std::string("\xFF\x13\x84\x10\x03\r\nOK\r\n", 11));
  ASSERT_EQ(1u, fed.frames.size());
  EXPECT_EQ(std::string("\xFF\x13\x84", 3), fed.frames[0]);
  EXPECT_EQ(std::vector<std::string>{"OK"}, fed.lines);
}

TEST(ResponseAssembler, OverlongInputIsCutAt128) {
  FaxModemData m;
  Fed fed = Feed(m, std::string(300, 'A') + "\r\n");
  ASSERT_EQ(1u, fed.lines.size());
  EXPECT_EQ(128u, fed.lines[0].size());
  std::string frame("\xFF\x03", 2);
  frame += std::string(200, 'x') + "\x10\x03";
  fed = Feed(m, frame);
  ASSERT_EQ(1u, fed.frames.size());
  EXPECT_EQ(128u, fed.frames[0].size());
}

TEST(ResponseAssembler, SyncReaderKeepsPrintableCharactersAndEndsAtCr) {
  std::string line;
  bool complete = false;
  std::vector<std::string> lines;
  for (unsigned char c : std::string("\r\n0,1,2\r\n\r\nOK\r\n"))
    if (AssembleSyncByte(line, complete, c)) lines.push_back(line);
  EXPECT_EQ((std::vector<std::string>{"0,1,2", "OK"}), lines);
  line.clear();
  complete = false;
  for (int i = 0; i < 200; ++i) AssembleSyncByte(line, complete, static_cast<uint8_t>('a' + i % 26));
  EXPECT_EQ(129u, line.size());
  EXPECT_EQ(static_cast<char>('a' + 199 % 26), line.back());
}

}  // namespace
}  // namespace tv
