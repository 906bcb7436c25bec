#include "app/store/fax_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"
#include "send/config/app_folder.h"

namespace fs = std::filesystem;

namespace {

class FaxFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() /
            ("telvane_files_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_ / "SEND");
    setenv("TELVANE_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TELVANE_HOME");
    fs::remove_all(home_);
  }
  static void Touch(const fs::path& p, const std::string& text = "x") {
    std::ofstream(p, std::ios::binary) << text;
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path home_;
};

TEST_F(FaxFilesTest, GeneratorsTakeTheLowestFreeNumber) {
  EXPECT_EQ(tv::SendFileName("FAX"), home_ / "SEND" / "FAX00000.APF");
  Touch(home_ / "SEND" / "FAX00000.APF");
  Touch(home_ / "SEND" / "FAX00002.APF");
  EXPECT_EQ(tv::SendFileName("FAX"), home_ / "SEND" / "FAX00001.APF");
  // A name taken in another letter case counts as taken.
  Touch(home_ / "SEND" / "fax00001.apf");
  EXPECT_EQ(tv::SendFileName("FAX"), home_ / "SEND" / "FAX00003.APF");
  // Prefixes and folders are independent.
  EXPECT_EQ(tv::SendFileName("FWD"), home_ / "SEND" / "FWD00000.APF");
  Touch(home_ / "SEND" / "COV00000.APF");
  EXPECT_EQ(tv::NewCoverFileName(), home_ / "SEND" / "COV00001.APF");
  EXPECT_EQ(tv::WorkFileName("FAX"), home_ / "FAX00000.APF");
  EXPECT_LE(tv::SendFileName("COV").filename().string().size(), 12u);
}

TEST_F(FaxFilesTest, FullPrefixRaisesInsteadOfReturningATakenName) {
  const fs::path folder = home_ / "full";
  fs::create_directories(folder);
  char name[32];
  for (int n = 0; n <= 99999; ++n) {
    std::snprintf(name, sizeof name, "FAX%05d.APF", n);
    std::ofstream(folder / name);
  }
  try {
    tv::FreeFaxFileName(folder, "FAX");
    FAIL() << "a taken name was returned";
  } catch (const tv::EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), tv::ecNoMoreFiles);
    EXPECT_NE(std::string(e.what()).find("FAX99999.APF"), std::string::npos) << e.what();
  }
  EXPECT_EQ(tv::FreeFaxFileName(folder, "COV"), folder / "COV00000.APF");
}

TEST_F(FaxFilesTest, ReceiveCounterNames) {
  const fs::path folder = home_ / "RECEIVE";
  fs::create_directories(folder);
  EXPECT_EQ(tv::ReceiveCounterFileName(folder), folder / "FAX0001.APF");
  char name[32];
  for (int n = 1; n <= 9999; ++n) {
    std::snprintf(name, sizeof name, "FAX%04d.APF", n);
    std::ofstream(folder / name);
  }
  EXPECT_EQ(tv::ReceiveCounterFileName(folder), folder / "NONAME.APF");
  Touch(folder / "noname.apf");
  EXPECT_THROW(tv::ReceiveCounterFileName(folder), tv::EInOutError);
}

TEST_F(FaxFilesTest, FindsStoredNamesWhateverTheirCase) {
  Touch(home_ / "SEND" / "body.apf", "lower");
  EXPECT_EQ(tv::FindFileNoCase(home_ / "SEND", "BODY.APF"), home_ / "SEND" / "body.apf");
  EXPECT_TRUE(tv::FileExistsNoCase(home_ / "SEND", "Body.Apf"));
  EXPECT_FALSE(tv::FileExistsNoCase(home_ / "SEND", "OTHER.APF"));
  EXPECT_EQ(tv::FindFileNoCase(home_ / "SEND", "OTHER.APF"), home_ / "SEND" / "OTHER.APF");
  EXPECT_EQ(tv::FindFileNoCase(home_ / "missing", "X.APF"), home_ / "missing" / "X.APF");
  // The exact spelling wins when both exist.
  Touch(home_ / "SEND" / "BODY.APF", "upper");
  EXPECT_EQ(tv::FindFileNoCase(home_ / "SEND", "BODY.APF"), home_ / "SEND" / "BODY.APF");
}

TEST_F(FaxFilesTest, CopyFaxFile) {
  std::string big(2048 * 3 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  const fs::path a = home_ / "a.apf", b = home_ / "b.apf";
  Touch(a, big);
  Touch(b, "old content that is longer than nothing");
  EXPECT_TRUE(tv::CopyFaxFile(a, b));
  EXPECT_EQ(Read(b), big);
  Touch(home_ / "empty.apf", "");
  EXPECT_TRUE(tv::CopyFaxFile(home_ / "empty.apf", b));
  EXPECT_EQ(Read(b), "");
  EXPECT_FALSE(tv::CopyFaxFile(a, a));
  EXPECT_FALSE(tv::CopyFaxFile(a, home_ / "." / "a.apf"));  // same file, other spelling
  EXPECT_EQ(Read(a), big);
  EXPECT_FALSE(tv::CopyFaxFile(home_ / "missing.apf", b));
  EXPECT_FALSE(tv::CopyFaxFile(a, home_ / "no" / "such" / "folder.apf"));
  if (fs::exists("/dev/full")) {
    fs::create_symlink("/dev/full", home_ / "full.apf");
    EXPECT_FALSE(tv::CopyFaxFile(a, home_ / "full.apf"));  // a failed write is no success
  }
}

TEST_F(FaxFilesTest, ForceFolder) {
  EXPECT_TRUE(tv::ForceFolder(home_ / "x" / "y" / "z"));
  EXPECT_TRUE(fs::is_directory(home_ / "x" / "y" / "z"));
  EXPECT_TRUE(tv::ForceFolder((home_ / "t").string() + "/"));
  EXPECT_TRUE(fs::is_directory(home_ / "t"));
  EXPECT_TRUE(tv::ForceFolder(home_ / "t"));  // already there
  EXPECT_FALSE(tv::ForceFolder("ab"));
  EXPECT_FALSE(fs::exists("ab"));
  Touch(home_ / "file");
  EXPECT_FALSE(tv::ForceFolder(home_ / "file" / "sub"));
}

TEST_F(FaxFilesTest, FoldersAndArchiveFilter) {
  EXPECT_EQ(tv::SendFolder(), home_ / "SEND");
  EXPECT_EQ(tv::ReceiveFolder(), home_ / "RECEIVE");
  fs::create_directories(home_ / "receive");
  EXPECT_EQ(tv::ReceiveFolder(), home_ / "receive");
  EXPECT_EQ(tv::ArchiveFilter(), ".not. archived");
  fs::create_directories(home_ / "covers");
  EXPECT_EQ(tv::CoversFolder(), home_ / "covers");
  EXPECT_TRUE(fs::exists(tv::HelpFolder() / "1009.html")) << tv::HelpFolder();
}

}  // namespace
