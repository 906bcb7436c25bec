#include "send/config/configuration.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/core/exceptions.h"
#include "send/config/app_folder.h"

namespace fs = std::filesystem;

namespace {

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("telvane_cfg_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = dir_ / "ZT.INI";
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Put(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Get() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_, path_;
};

TEST_F(ConfigurationTest, MissingFileGivesDefaults) {
  tv::TConfiguration c;
  c.DialAttempts = 77;
  c.UserName = "stale";
  tv::LoadConfiguration(c, path_);
  const tv::TConfiguration d;
  EXPECT_EQ(c.UserName, "");
  EXPECT_EQ(c.DialAttempts, 3);
  EXPECT_EQ(c.RetryWait, 60);
  EXPECT_EQ(c.Timeout, 60);
  EXPECT_EQ(c.ComPort, -1);
  EXPECT_EQ(c.FaxClass, 0);
  EXPECT_EQ(c.MaximumBPS, 9600);
  EXPECT_EQ(c.ResetString, "AT&F");
  EXPECT_EQ(c.AnswerOnRing, 1);
  EXPECT_TRUE(c.HintsOn);
  EXPECT_FALSE(c.BlindDial || c.IgnoreBusy || c.ResetAlways);
  EXPECT_EQ(c.PortDevices, d.PortDevices);
  EXPECT_EQ(tv::PortCaption(c, 0), "Com1 (/dev/ttyACM0)");
  EXPECT_EQ(tv::PortCaption(c, 5), "Com6 (/dev/ttyS1)");
  EXPECT_EQ(tv::PortCaption(c, 6), "");
  EXPECT_FALSE(fs::exists(path_));  // loading never creates the file
}

TEST_F(ConfigurationTest, ReadsValuesHexAndFallsBackOnBadIntegers) {
  Put("[user]\nNAME=Ann\n[Dialing]\nDialAttempts=0x1F\nRetryWait=soon\nBlindDial=1\n"
      "Timeout=0x\n[MODEM]\ncomport=2\nMaximumBPS=14400\n[Resetting]\nString=ATZ\n"
      "[Hints]\nOn=0\n[Ports]\nCom3=/dev/ttyUSB7\nCom4=\n");
  tv::TConfiguration c;
  tv::LoadConfiguration(c, path_);
  EXPECT_EQ(c.UserName, "Ann");
  EXPECT_EQ(c.DialAttempts, 31);
  EXPECT_EQ(c.RetryWait, 60);
  EXPECT_EQ(c.Timeout, 60);
  EXPECT_TRUE(c.BlindDial);
  EXPECT_EQ(c.ComPort, 2);
  EXPECT_EQ(c.MaximumBPS, 14400);
  EXPECT_EQ(c.ResetString, "ATZ");
  EXPECT_FALSE(c.HintsOn);
  EXPECT_EQ(tv::PortDevice(c, 2), "/dev/ttyUSB7");
  EXPECT_EQ(tv::PortDevice(c, 3), "/dev/ttyUSB1");  // empty value: the default device
}

TEST_F(ConfigurationTest, NewFileHasTheDesignedKeyOrder) {
  tv::TConfiguration c;
  c.UserFax = "+1 555 0100";
  c.UserName = "Ann Smith";
  c.ComPort = 0;
  c.BlindDial = true;
  tv::SaveConfiguration(c, path_);
  EXPECT_EQ(Get(),
            "[User]\r\nFax=+1 555 0100\r\nName=Ann Smith\r\nVoice=\r\nCompany=\r\n"
            "[Dialing]\r\nDialPrefix=\r\nDialAttempts=3\r\nRetryWait=60\r\nBlindDial=1\r\n"
            "IgnoreBusy=0\r\nToneOrPulse=0\r\nTimeout=60\r\n"
            "[Modem]\r\nInitString=\r\nComPort=0\r\nFaxClass=0\r\nMaximumBPS=9600\r\n"
            "[Resetting]\r\nString=AT&F\r\nAlways=0\r\n"
            "[Receive]\r\nWav=\r\nAnswerOnRing=1\r\n"
            "[Hints]\r\nOn=1\r\n"
            "[Ports]\r\nCom1=/dev/ttyACM0\r\nCom2=/dev/ttyACM1\r\nCom3=/dev/ttyUSB0\r\n"
            "Com4=/dev/ttyUSB1\r\nCom5=/dev/ttyS0\r\nCom6=/dev/ttyS1\r\n");
  tv::TConfiguration back;
  tv::LoadConfiguration(back, path_);
  EXPECT_EQ(back.UserFax, c.UserFax);
  EXPECT_EQ(back.UserName, c.UserName);
  EXPECT_EQ(back.ComPort, 0);
  EXPECT_TRUE(back.BlindDial);
}

TEST_F(ConfigurationTest, SaveKeepsPlacementsAndUnknownKeys) {
  Put("[TMainScreen_Placement]\r\nLeft=10\r\nBottom=400\r\n[User]\r\nName=old\r\nPet=cat\r\n");
  tv::TConfiguration c;
  tv::LoadConfiguration(c, path_);
  c.UserName = "new";
  tv::SaveConfiguration(c, path_);
  const std::string text = Get();
  EXPECT_EQ(text.rfind("[TMainScreen_Placement]\r\nLeft=10\r\nBottom=400\r\n[User]\r\nName=new\r\nPet=cat\r\n", 0), 0u)
      << text;
}

TEST_F(ConfigurationTest, FailedWriteRaisesFileErrorAndKeepsOldFile) {
  Put("[User]\r\nName=old\r\n");
  fs::path temp = path_;
  temp += ".tmp" + std::to_string(::getpid());
  fs::create_directory(temp);  // the temporary file cannot be created
  tv::TConfiguration c;
  c.UserName = "new";
  EXPECT_THROW(tv::SaveConfiguration(c, path_), tv::EInOutError);
  EXPECT_EQ(Get(), "[User]\r\nName=old\r\n");
}

TEST_F(ConfigurationTest, DataFolderFromEnvironment) {
  setenv("TELVANE_HOME", dir_.c_str(), 1);
  EXPECT_EQ(tv::AppFolder(), dir_);
  EXPECT_EQ(tv::ConfigurationPath(), dir_ / "ZT.INI");
  unsetenv("TELVANE_HOME");
  setenv("XDG_DATA_HOME", "/xdg", 1);
  EXPECT_EQ(tv::AppFolder(), fs::path("/xdg/telvane"));
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", "/home/ann", 1);
  EXPECT_EQ(tv::AppFolder(), fs::path("/home/ann/.local/share/telvane"));
  setenv("TELVANE_HOME", (dir_ / "a" / "b").c_str(), 1);
  EXPECT_TRUE(tv::EnsureAppFolder());
  EXPECT_TRUE(fs::is_directory(dir_ / "a" / "b"));
  unsetenv("TELVANE_HOME");
}

}  // namespace
