#include "app/shell/main_screen.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <fstream>

#include "app/shell/about_box.h"
#include "app/shell/fax_table_model.h"
#include "app/shell/help_browser.h"
#include "app/shell/messages.h"
#include "app/store/fax_tables.h"
#include "platform/ini/ini_file.h"
#include "send/config/app_folder.h"
#include "send/config/configuration.h"
#include "tests/app/shell/fake_xbase_table.h"

namespace fs = std::filesystem;

namespace {

QApplication* App() {
  static int argc = 1;
  static char arg0[] = "main_screen_test";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

class MainScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    home_ = fs::temp_directory_path() /
            ("telvane_main_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    setenv("TELVANE_HOME", home_.c_str(), 1);
    tv::fake::ResetTables();
    tv::Configuration() = tv::TConfiguration();
    messages_.clear();
    answer_ = false;
    tv::SetMessageHook([this](tv::TMessageKind, const QString& caption, const QString& text) {
      messages_ << caption + ": " + text;
      return answer_;
    });
  }
  void TearDown() override {
    screen_.reset();
    tv::SetMessageHook({});
    unsetenv("TELVANE_HOME");
    fs::remove_all(home_);
  }

  tv::TMainScreen& Start() {
    screen_ = std::make_unique<tv::TMainScreen>();
    screen_->FormActivate();
    return *screen_;
  }
  // Rows written into the tables before the window starts.
  void SeedOutgoing(const std::vector<std::vector<std::pair<std::string, std::string>>>& rows) {
    ASSERT_TRUE(tv::CreateOutgoingTable());
    for (auto& row : rows) tv::fake::AddRow(home_ / "ZTOUT.DBF", row);
  }
  void SeedReceived(const std::vector<std::vector<std::pair<std::string, std::string>>>& rows) {
    ASSERT_TRUE(tv::CreateReceivedTable());
    for (auto& row : rows) tv::fake::AddRow(home_ / "ZTREC.DBF", row);
  }
  QToolButton* Button(const char* name) const {
    auto* b = screen_->findChild<QToolButton*>(name);
    EXPECT_NE(b, nullptr) << name;
    return b;
  }
  QAction* Item(const char* name) const {
    auto* a = screen_->findChild<QAction*>(name);
    EXPECT_NE(a, nullptr) << name;
    return a;
  }
  // Enabled states of the buttons, as a word per button: "Edit" when enabled.
  std::string Enabled() const {
    std::string out;
    for (const char* name : {"Newbutton", "AddCoverButton", "EditButton", "CloneButton",
                             "ForwardButton", "DeleteButton", "Archivebutton", "OrderButton",
                             "SendButton", "ButtonviewPrint"}) {
      if (Button(name)->isEnabled()) out += std::string(out.empty() ? "" : " ") + name;
    }
    return out;
  }

  fs::path home_;
  std::unique_ptr<tv::TMainScreen> screen_;
  QStringList messages_;
  bool answer_ = false;
};

TEST_F(MainScreenTest, FirstStartCreatesTablesFoldersAndAsksForPreferences) {
  tv::TMainScreen& s = Start();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
  for (const char* name : {"ZTOUT.DBF", "ZTOUT.CDX", "ZTREC.DBF", "ZTREC.CDX"}) {
    EXPECT_TRUE(fs::exists(home_ / name)) << name;
  }
  EXPECT_FALSE(fs::exists(home_ / "ZTPB.DBF"));
  EXPECT_TRUE(fs::is_directory(home_ / "SEND"));
  EXPECT_TRUE(fs::is_directory(home_ / "RECEIVE"));
  ASSERT_EQ(s.FaxTable().TagCount(), 5);
  EXPECT_EQ(s.FaxTable().TagInfo(1).name, "DATESENT");
  EXPECT_TRUE(s.FaxTable().TagInfo(1).descending);
  EXPECT_EQ(s.RecTable().TagCount(), 3);
  EXPECT_EQ(s.RecTable().TagInfo(2).keyExpression, "UPPER(FROM)");
  EXPECT_EQ(tv::Configuration().ComPort, 0);  // no port yet: the first one, and ask
  EXPECT_FALSE(s.FirstActivation());
  EXPECT_EQ(s.windowTitle(), "Telvane");
  // The grid shows the designed columns, left to right.
  QStringList labels;
  for (int c = 0; c < s.FaxModel()->columnCount(); ++c) {
    labels << s.FaxModel()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  }
  EXPECT_EQ(labels.join("|").toStdString(),
            "Date Sent|Time Sent|Fax#|Recipient|Subject|Last Attempt|Notes|Codes");
}

TEST_F(MainScreenTest, EnablingRules) {
  struct Case {
    const char* what;
    bool outRows, outCover, inRows, receiveMode;
    int tab;
    const char* enabled;
  };
  const Case cases[] = {
      {"empty outgoing", false, false, false, false, 0, "Newbutton OrderButton"},
      {"outgoing row without cover", true, false, false, false, 0,
       "Newbutton AddCoverButton EditButton CloneButton DeleteButton Archivebutton OrderButton "
       "SendButton ButtonviewPrint"},
      {"outgoing row with cover", true, true, false, false, 0,
       "Newbutton EditButton CloneButton DeleteButton Archivebutton OrderButton SendButton "
       "ButtonviewPrint"},
      {"outgoing row in receive mode", true, false, false, true, 0,
       "Newbutton EditButton CloneButton DeleteButton Archivebutton OrderButton ButtonviewPrint"},
      {"empty incoming", true, false, false, false, 1, "OrderButton"},
      {"incoming row", false, false, true, false, 1,
       "EditButton ForwardButton DeleteButton Archivebutton OrderButton ButtonviewPrint"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    screen_.reset();
    tv::fake::ResetTables();
    fs::remove_all(home_);
    fs::create_directories(home_);
    if (c.outRows) {
      SeedOutgoing({{{"SUBJECT", "Offer"}, {"FAXDOC", "FAX00000.APF"},
                     {"FAXCOVER", c.outCover ? "COV00000.APF" : ""}, {"ARCHIVED", "F"}}});
    }
    if (c.inRows) SeedReceived({{{"FROM", "ACME"}, {"ARCHIVED", "F"}}});
    tv::TMainScreen& s = Start();
    ASSERT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
    if (c.receiveMode) s.SetReceiveModeActive(true);
    if (c.tab == 1) s.findChild<QTabBar*>("TabSet1")->setCurrentIndex(1);
    EXPECT_EQ(Enabled(), c.enabled);
    // The menu items follow their buttons.
    EXPECT_EQ(Item("mnuEdit")->isEnabled(), Button("EditButton")->isEnabled());
    EXPECT_EQ(Item("mnuSend")->isEnabled(), Button("SendButton")->isEnabled());
    EXPECT_EQ(Item("mnuAddCoverSheet")->isEnabled(), Button("AddCoverButton")->isEnabled());
    EXPECT_EQ(Item("mnuClone")->isEnabled(), Button("CloneButton")->isEnabled());
    EXPECT_EQ(Item("mnuForward")->isEnabled(), Button("ForwardButton")->isEnabled());
    // The whole File menu is off in receive mode.
    EXPECT_EQ(s.menuBar()->actions().at(0)->isEnabled(), !c.receiveMode);
    EXPECT_EQ(Item("mnuRebuildIndexes")->isEnabled(), !c.receiveMode);
    // Grids are enabled only when their view has rows.
    EXPECT_EQ(s.findChild<QTableView*>("FaxGrid")->isEnabled(), c.outRows);
    EXPECT_EQ(s.findChild<QTableView*>("RecFaxGrid")->isEnabled(), c.inRows);
    // Clone and Forward share one spot: one of them is shown.
    EXPECT_NE(Button("CloneButton")->isVisibleTo(&s), Button("ForwardButton")->isVisibleTo(&s));
    EXPECT_EQ(Button("ForwardButton")->isVisibleTo(&s), c.tab == 1);
  }
}

TEST_F(MainScreenTest, CtrlTabFlipsTabsAndTheSortMenuFollows) {
  SeedOutgoing({{{"SUBJECT", "a"}, {"ARCHIVED", "F"}}});
  tv::TMainScreen& s = Start();
  auto* grid = s.findChild<QTableView*>("FaxGrid");
  EXPECT_EQ(s.PageIndex(), 0);
  EXPECT_EQ(Button("OrderButton")->menu(), s.findChild<QMenu*>("FaxSortMenu"));
  QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(s.PageIndex(), 1);
  EXPECT_EQ(Button("OrderButton")->menu(), s.findChild<QMenu*>("RecSortMenu"));
  EXPECT_FALSE(Button("SendButton")->isEnabled());
  QTest::keyClick(s.findChild<QTableView*>("RecFaxGrid"), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(s.PageIndex(), 0);
  EXPECT_TRUE(Button("SendButton")->isEnabled());
  // Ctrl+Shift+Tab is no tab flip.
  QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(s.PageIndex(), 0);
}

TEST_F(MainScreenTest, ArchivedRowsAndCaptions) {
  SeedOutgoing({{{"SUBJECT", "kept"}, {"DATESENT", "20260101"}, {"ARCHIVED", "F"}},
                {{"SUBJECT", "old"}, {"DATESENT", "20260301"}, {"ARCHIVED", "T"}}});
  SeedReceived({{{"FROM", "ACME"}, {"ARCHIVED", "T"}}});
  tv::TMainScreen& s = Start();
  EXPECT_EQ(s.FaxModel()->rowCount(), 1);  // archived rows are hidden
  EXPECT_EQ(s.RecModel()->rowCount(), 0);
  EXPECT_EQ(Button("Archivebutton")->text(), "&Archive");
  Item("mnuShowArchives")->trigger();
  EXPECT_EQ(s.FaxModel()->rowCount(), 2);
  EXPECT_EQ(s.RecModel()->rowCount(), 1);
  // Newest first: the archived row of March leads.
  EXPECT_EQ(s.FaxModel()->data(s.FaxModel()->index(0, 4), Qt::DisplayRole).toString(), "old");
  s.FaxTable().GoToPosition(0);
  EXPECT_EQ(Button("Archivebutton")->text(), "Un&Archive");
  EXPECT_EQ(Item("mnuArchive")->text(), "Un&Archive");
  EXPECT_EQ(Button("Archivebutton")->toolTip(), "Unarchive this fax [CTRL+A]");
  s.FaxTable().GoToPosition(1);
  EXPECT_EQ(Button("Archivebutton")->text(), "&Archive");
  Item("mnuShowArchives")->trigger();
  EXPECT_EQ(s.FaxModel()->rowCount(), 1);
}

TEST_F(MainScreenTest, GridSelectionMovesTheCurrentRow) {
  SeedOutgoing({{{"SUBJECT", "first"}, {"DATESENT", "20260102"}, {"FAXCOVER", "COV00000.APF"},
                 {"ARCHIVED", "F"}},
                {{"SUBJECT", "second"}, {"DATESENT", "20260101"}, {"ARCHIVED", "F"}}});
  tv::TMainScreen& s = Start();
  auto* grid = s.findChild<QTableView*>("FaxGrid");
  EXPECT_EQ(grid->currentIndex().row(), 0);
  EXPECT_FALSE(Button("AddCoverButton")->isEnabled());  // first row has a cover
  grid->setCurrentIndex(s.FaxModel()->index(1, 0));
  EXPECT_EQ(s.FaxTable().AsString("SUBJECT"), "second");
  EXPECT_TRUE(Button("AddCoverButton")->isEnabled());
  s.FaxTable().GoToPosition(0);
  EXPECT_EQ(grid->currentIndex().row(), 0);
}

TEST_F(MainScreenTest, SortItemsSelectTagOrders) {
  SeedReceived({{{"FROM", "ACME"}, {"ARCHIVED", "F"}}, {{"FROM", "zeta"}, {"ARCHIVED", "F"}}});
  tv::TMainScreen& s = Start();
  EXPECT_EQ(s.FaxTable().CurrentOrder(), 0);  // empty outgoing view: physical order
  EXPECT_EQ(s.RecTable().CurrentOrder(), s.RecTable().OrderNumberOf("DATETIME"));
  Item("mnuSortFrom")->trigger();
  EXPECT_EQ(s.RecTable().CurrentOrder(), s.RecTable().OrderNumberOf("FROM"));
  EXPECT_EQ(s.RecModel()->data(s.RecModel()->index(0, 2), Qt::DisplayRole).toString(), "zeta");
  // While a fax arrives the incoming order stays and its tick with it.
  s.SetFaxInProgress(true);
  Item("mnuSortDateReceived")->trigger();
  EXPECT_EQ(s.RecTable().CurrentOrder(), s.RecTable().OrderNumberOf("FROM"));
  EXPECT_TRUE(Item("mnuSortFrom")->isChecked());
  EXPECT_FALSE(Item("mnuSortDateReceived")->isChecked());
  s.SetFaxInProgress(false);
  Item("mnuSortDateReceived")->trigger();
  EXPECT_EQ(s.RecTable().CurrentOrder(), s.RecTable().OrderNumberOf("DATETIME"));
}

TEST_F(MainScreenTest, HintsSwitchOffAndAreStored) {
  tv::TMainScreen& s = Start();
  EXPECT_TRUE(s.HintsShown());
  EXPECT_TRUE(Item("mnuShowHint")->isChecked());
  Item("mnuShowHint")->trigger();
  EXPECT_FALSE(s.HintsShown());
  tv::TIniFile ini(home_ / "ZT.INI");
  ini.Load();
  EXPECT_EQ(ini.ReadString("Hints", "On", "?"), "0");
  // The next start keeps hints off.
  screen_.reset();
  tv::TMainScreen& again = Start();
  EXPECT_FALSE(again.HintsShown());
  EXPECT_FALSE(Item("mnuShowHint")->isChecked());
}

TEST_F(MainScreenTest, CaptionsShortcutsAndHints) {
  Start();
  struct Item_ { const char* name; const char* caption; const char* shortcut; };
  const Item_ items[] = {
      {"mnuNewCoverSheet", "&New Cover Sheet", "Ctrl+N"}, {"mnuAddCoverSheet", "Add C&over Sheet", "Ctrl+O"},
      {"mnuEdit", "&Edit", "Ctrl+E"},   {"mnuClone", "&Clone", "Ctrl+C"},
      {"mnuDelete", "&Delete", "Ctrl+D"}, {"mnuArchive", "&Archive", "Ctrl+A"},
      {"mnuForward", "For&ward Received Fax", ""}, {"mnuShowArchives", "S&how Archived Faxes", ""},
      {"mnuSend", "&Send Fax", "Ctrl+S"}, {"mnuReceive", "&Receive Fax", "Ctrl+R"},
      {"mnuViewPrint", "&View/Print Fax", "Ctrl+V"}, {"ResetModem1", "&Modem Reset", ""},
      {"mnuPhoneBook", "&Phone Book", ""}, {"mnuRebuildIndexes", "Rebuild &Indexes", ""},
      {"mnuPreferences", "P&references", ""}, {"Exit1", "E&xit", "Ctrl+X"},
      {"Contents1", "&Contents", ""}, {"About1", "&About", ""},
      {"TroubleshootingTips1", "&Troubleshooting Tips", ""}, {"mnuShowHint", "&Show Hints", ""},
  };
  for (const Item_& i : items) {
    EXPECT_EQ(Item(i.name)->text().toStdString(), i.caption);
    EXPECT_EQ(Item(i.name)->shortcut().toString().toStdString(), i.shortcut) << i.name;
  }
  EXPECT_EQ(Item("Exit1")->toolTip(), "Exit Telvane");
  EXPECT_EQ(Button("Exitbutton")->text(), "E&xit");
  EXPECT_EQ(Button("OrderButton")->text(), "Sor&t");
  EXPECT_EQ(Button("Newbutton")->toolTip(),
            "Create a new stand-alone fax cover sheet for\na quick one page fax message");
  auto* tabs = screen_->findChild<QTabBar*>("TabSet1");
  EXPECT_EQ(tabs->tabText(0), "Out&going Faxes");
  EXPECT_EQ(tabs->tabText(1), "&Incoming Faxes");
}

TEST_F(MainScreenTest, ExitClosesInOrderAndSavesPlacement) {
  tv::TMainScreen& s = Start();
  bool closed = false;
  QObject::connect(&s, &tv::TMainScreen::Closed, [&] { closed = true; });
  s.setGeometry(30, 40, 640, 420);
  Button("Exitbutton")->click();
  EXPECT_TRUE(closed);
  EXPECT_FALSE(s.FaxTable().IsOpen());
  EXPECT_FALSE(s.RecTable().IsOpen());
  tv::TIniFile ini(home_ / "ZT.INI");
  ini.Load();
  const auto sections = ini.Sections();
  ASSERT_FALSE(sections.empty());
  EXPECT_EQ(sections.back().rfind("TMainScreen_Placement", 0), 0u);
  EXPECT_EQ(ini.ReadInteger(sections.back(), "Right", 0), 670);
}

TEST_F(MainScreenTest, CloseWhileAFaxArrivesAsksFirst) {
  tv::TMainScreen& s = Start();
  s.SetReceiveModeActive(true);
  s.SetFaxInProgress(true);
  answer_ = false;
  EXPECT_FALSE(s.close());
  EXPECT_EQ(messages_.join("\n").toStdString(),
            "ALERT!: You are recieving a fax. Close the program?");
  EXPECT_TRUE(s.ReceiveModeActive());
  EXPECT_TRUE(s.FaxTable().IsOpen());
  answer_ = true;
  EXPECT_TRUE(s.close());
  EXPECT_FALSE(s.ReceiveModeActive());
  EXPECT_EQ(Button("ReceiveButton")->text(), "Receive");
}

TEST_F(MainScreenTest, TableThatCannotBeOpenedClosesTheProgram) {
  fs::create_directories(home_ / "ZTOUT.DBF");  // not a table
  tv::TMainScreen s;
  bool closed = false;
  QObject::connect(&s, &tv::TMainScreen::Closed, [&] { closed = true; });
  s.FormActivate();
  EXPECT_FALSE(s.isVisible());
  QApplication::processEvents();
  EXPECT_TRUE(closed);
  EXPECT_EQ(messages_.join("\n").toStdString(),
            "Information: Unable to open/create the FAX datafile - closing program");
}

TEST_F(MainScreenTest, RebuildPacksAndRebuildsEveryTable) {
  SeedOutgoing({{{"SUBJECT", "a"}, {"ARCHIVED", "F"}}, {{"SUBJECT", "b"}, {"ARCHIVED", "F"}}});
  tv::TMainScreen& s = Start();
  s.FaxTable().GoToPosition(0);
  s.FaxTable().Delete();
  EXPECT_EQ(s.FaxTable().RecordCount(), 2);
  // The modal dialog runs by itself and closes when done.
  s.mnuRebuildIndexesClick();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
  EXPECT_EQ(s.FaxTable().RecordCount(), 1);
  EXPECT_EQ(s.FaxTable().TagCount(), 5);
  EXPECT_EQ(s.RecTable().TagCount(), 3);
  EXPECT_TRUE(fs::exists(home_ / "ZTPB.DBF"));
  EXPECT_TRUE(fs::exists(home_ / "ZTPB.CDX"));
  EXPECT_EQ(s.FaxTable().FilterExpression(), ".not. archived");
  EXPECT_EQ(s.FaxModel()->rowCount(), 1);
}

TEST_F(MainScreenTest, AboutBoxAndHelpPages) {
  Start();
  tv::TAboutBox about;
  EXPECT_EQ(about.windowTitle(), "About Telvane");
  EXPECT_EQ(about.findChild<QLabel*>("VersionLabel")->text(), "Version 2.7g");
  EXPECT_EQ(about.findChild<QLabel*>("PlatformLabel")->text(), "64-bit version for Linux");
  for (int topic : {1009, 1032}) {
    tv::THelpBrowser help;
    EXPECT_TRUE(help.ShowTopic(topic)) << topic;
    EXPECT_FALSE(help.Browser()->toPlainText().isEmpty());
  }
  tv::THelpBrowser help;
  EXPECT_FALSE(help.ShowTopic(4711));
  EXPECT_TRUE(help.Browser()->toPlainText().contains("4711"));
}

}  // namespace
