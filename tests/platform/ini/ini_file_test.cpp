#include "platform/ini/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/core/error_codes.h"

namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("telvane_ini_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = dir_ / "ZT.INI";
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0755);
    fs::remove_all(dir_);
  }
  void Put(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
  }
  std::string Get() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_, path_;
};

TEST_F(IniFileTest, ReadsBothLineEndsWithoutRegardToCase) {
  for (const char* text : {"; settings\n[User]\nName = Ann Smith \nFax=555\n[Modem]\nComPort=2\n",
                           "; settings\r\n[User]\r\nName = Ann Smith \r\nFax=555\r\n[Modem]\r\nComPort=2\r\n"}) {
    Put(text);
    tv::TIniFile ini(path_);
    ASSERT_EQ(ini.Load(), tv::ecOK);
    EXPECT_EQ(ini.ReadString("user", "NAME", "?"), "Ann Smith");
    EXPECT_EQ(ini.ReadString("USER", "fax", "?"), "555");
    EXPECT_EQ(ini.ReadInteger("modem", "comport", -1), 2);
    EXPECT_EQ(ini.ReadString("Modem", "Missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("Nowhere", "Name", "dflt"), "dflt");
    // A key of another section is not seen.
    EXPECT_EQ(ini.ReadString("Modem", "Name", "dflt"), "dflt");
  }
}

TEST_F(IniFileTest, MissingFileReadsAsEmpty) {
  tv::TIniFile ini(path_);
  EXPECT_EQ(ini.Load(), tv::ecOK);
  EXPECT_TRUE(ini.Sections().empty());
  EXPECT_EQ(ini.ReadInteger("Dialing", "RetryWait", 60), 60);
}

TEST_F(IniFileTest, IntegerRules) {
  struct Case { const char* text; int expected; };
  const Case cases[] = {
      {"31", 31},         {"-1", -1},       {"+7", 7},        {"0x1F", 31},
      {"0X1f", 31},       {"0x", 99},       {"0xZZ", 99},     {"abc", 99},
      {"12abc", 99},      {"", 99},         {"  42 ", 42},    {"0xFFFFFFFF", -1},
      {"2147483647", 2147483647},           {"2147483648", 99}, {"-2147483648", INT_MIN},
      {"1.5", 99},        {"0", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tv::IniStringToInt(c.text, 99), c.expected) << '"' << c.text << '"';
  }
  Put("[Hints]\r\nOn=0\r\n[X]\r\nB=junk\r\n");
  tv::TIniFile ini(path_);
  ini.Load();
  EXPECT_FALSE(ini.ReadBool("Hints", "On", true));
  EXPECT_TRUE(ini.ReadBool("X", "B", true));   // does not convert: default
  EXPECT_FALSE(ini.ReadBool("X", "B", false));
}

TEST_F(IniFileTest, UpdatesInPlaceAndKeepsEverythingElse) {
  Put("; kept comment\n[User]\nNAME=old\nColour=blue\n\n[Modem]\nComPort=1\n; tail\n");
  tv::TIniFile ini(path_);
  ASSERT_EQ(ini.Load(), tv::ecOK);
  ini.WriteString("user", "Name", "new value");  // in place, spelling of the file kept
  ini.WriteString("User", "Fax", "555");         // end of its section, before the blank
  ini.WriteInteger("Modem", "FaxClass", 2);      // after the last key line of the section
  ini.WriteBool("Hints", "On", true);            // new section at the end
  ASSERT_EQ(ini.Save(), tv::ecOK);
  EXPECT_EQ(Get(),
            "; kept comment\r\n[User]\r\nNAME=new value\r\nColour=blue\r\nFax=555\r\n\r\n"
            "[Modem]\r\nComPort=1\r\n; tail\r\nFaxClass=2\r\n[Hints]\r\nOn=1\r\n");
  tv::TIniFile again(path_);
  again.Load();
  EXPECT_EQ(again.Keys("USER"), (std::vector<std::string>{"NAME", "Colour", "Fax"}));
  EXPECT_EQ(again.Sections(), (std::vector<std::string>{"User", "Modem", "Hints"}));
}

TEST_F(IniFileTest, OneCallHelpers) {
  ASSERT_EQ(tv::WriteIniString(path_, "Ports", "Com1", "/dev/ttyACM0"), tv::ecOK);
  ASSERT_EQ(tv::WriteIniString(path_, "ports", "COM1", "/dev/ttyUSB3"), tv::ecOK);
  EXPECT_EQ(tv::ReadIniString(path_, "PORTS", "com1", ""), "/dev/ttyUSB3");
  EXPECT_EQ(Get(), "[Ports]\r\nCom1=/dev/ttyUSB3\r\n");
}

TEST_F(IniFileTest, FailedWriteReportsAndLeavesOldFileWhole) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  Put("[User]\r\nName=old\r\n");
  tv::TIniFile ini(path_);
  ini.Load();
  ini.WriteString("User", "Name", "new");
  chmod(dir_.c_str(), 0555);
  EXPECT_EQ(ini.Save(), tv::ecAccessDenied);
  chmod(dir_.c_str(), 0755);
  EXPECT_EQ(Get(), "[User]\r\nName=old\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(IniFileTest, FullDiskReportsAndLeavesOldFileWhole) {
  if (!fs::exists("/dev/full")) GTEST_SKIP();
  // The temporary file is made a link to /dev/full, so writing it fails with
  // a full disk (this works for root too).
  Put("[User]\r\nName=old\r\n");
  fs::path temp = path_;
  temp += ".tmp" + std::to_string(::getpid());
  fs::create_symlink("/dev/full", temp);
  tv::TIniFile ini(path_);
  ini.Load();
  ini.WriteString("User", "Name", std::string(100000, 'x'));
  EXPECT_NE(ini.Save(), tv::ecOK);
  EXPECT_EQ(Get(), "[User]\r\nName=old\r\n");
}

}  // namespace
