#include "send/config/window_placement.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QScreen>
#include <QWidget>
#include <fstream>

#include "platform/ini/ini_file.h"

namespace fs = std::filesystem;

namespace tv {
// A window class of its own, named like the main window.
class TMainScreen : public QWidget {
  Q_OBJECT
};
class TViewer : public QWidget {
  Q_OBJECT
};
}  // namespace tv

namespace {

class WindowPlacementTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char arg0[] = "test";
    static char* argv[] = {arg0, nullptr};
    if (!QApplication::instance()) app_ = new QApplication(argc, argv);
  }
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("telvane_place_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    path_ = dir_ / "ZT.INI";
    fs::remove(path_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static inline QApplication* app_ = nullptr;
  fs::path dir_, path_;
};

TEST(PlacementRules, SectionNameCarriesResolutionAbove96) {
  EXPECT_EQ(tv::PlacementSection("TMainScreen", 96), "TMainScreen_Placement");
  EXPECT_EQ(tv::PlacementSection("TMainScreen", 72), "TMainScreen_Placement");
  EXPECT_EQ(tv::PlacementSection("TMainScreen", 120), "TMainScreen_Placement120");
}

TEST(PlacementRules, FitsRectangleOnTheScreen) {
  struct Case { tv::TPlacementRect in; tv::TPlacementRect out; };
  const Case cases[] = {
      {{300, 100, 1280, 700}, {44, 100, 1024, 700}},   // 256 pixels too far right
      {{0, 200, 800, 900}, {0, 68, 800, 768}},         // too low
      {{10, 10, 500, 400}, {10, 10, 500, 400}},        // fits: unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(tv::FitPlacement(c.in, 1024, 768), c.out);
}

TEST_F(WindowPlacementTest, SaveAndLoadRoundTrip) {
  tv::TViewer form;
  form.setGeometry(40, 50, 300, 200);
  ASSERT_EQ(tv::SaveWindowPlacement(&form, path_), 0);
  tv::TIniFile ini(path_);
  ini.Load();
  const int dpi = static_cast<int>(std::lround(form.screen()->logicalDotsPerInch()));
  const std::string section = tv::PlacementSection("TViewer", dpi);
  EXPECT_EQ(ini.ReadInteger(section, "Left", -1), 40);
  EXPECT_EQ(ini.ReadInteger(section, "Top", -1), 50);
  EXPECT_EQ(ini.ReadInteger(section, "Right", -1), 340);
  EXPECT_EQ(ini.ReadInteger(section, "Bottom", -1), 250);
  EXPECT_FALSE(ini.ReadBool(section, "Maximized", true));

  tv::TViewer other;
  other.resize(10, 10);
  tv::LoadWindowPlacement(&other, path_);
  EXPECT_EQ(other.geometry(), QRect(40, 50, 300, 200));
}

TEST_F(WindowPlacementTest, WithoutBottomTheWindowIsCentred) {
  std::ofstream(path_) << "[TMainScreen_Placement]\r\nLeft=5\r\nTop=5\r\nRight=200\r\n";
  tv::TMainScreen form;
  form.resize(200, 100);
  tv::LoadWindowPlacement(&form, path_);
  const QRect screen = form.screen()->geometry();
  const QSize frame = form.frameGeometry().size();
  EXPECT_EQ(form.pos(), QPoint((screen.width() - frame.width()) / 2,
                               (screen.height() - frame.height()) / 2));
}

}  // namespace

#include "window_placement_test.moc"
