// The store's tables over the real table engine: what a first start creates,
// that a second start keeps it, when tags are built, and the designed orders.
#include "app/store/fax_tables.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "app/store/fax_files.h"
#include "platform/core/error_codes.h"
#include "send/config/app_folder.h"

namespace fs = std::filesystem;

namespace {

class FaxTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() /
            ("telvane_tables_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    setenv("TELVANE_HOME", home_.c_str(), 1);
    tv::ArchiveFilter() = tv::kHideArchivedFilter;
    if (tv::CreateTableFile(home_ / "PROBE.DBF", "X", tv::kXbaseTableTypeFoxPro,
                            {{"A", 'C', 1, 0}}) == tv::ecNotSupported) {
      GTEST_SKIP() << "the table engine is not built yet";
    }
    fs::remove(home_ / "PROBE.DBF");
  }
  void TearDown() override {
    unsetenv("TELVANE_HOME");
    fs::remove_all(home_);
  }
  static void Add(tv::XbaseTable& t, std::vector<std::pair<const char*, const char*>> values) {
    t.Append();
    for (auto [field, value] : values) {
      const int i = t.FieldIndex(field);
      if (t.Field(i).type == 'L') {
        t.SetBoolean(i, std::string(value) == "T");
      } else if (t.Field(i).type == 'D') {
        t.SetDate(i, value);
      } else if (t.Field(i).type == 'N') {
        t.SetInteger(i, std::stoll(value));
      } else {
        t.SetString(i, value);
      }
    }
    t.Post();
  }
  static std::vector<std::string> Column(tv::XbaseTable& t, const char* field) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.AsString(field));
    return out;
  }
  static void ExpectSchema(tv::XbaseTable& t, const tv::TTableSchema& schema) {
    ASSERT_EQ(t.FieldCount(), static_cast<int>(schema.fields.size()));
    for (int i = 0; i < t.FieldCount(); ++i) {
      const tv::XbaseField& want = schema.fields[static_cast<size_t>(i)];
      EXPECT_EQ(t.Field(i).name, want.name);
      EXPECT_EQ(t.Field(i).type, want.type) << want.name;
      EXPECT_EQ(t.Field(i).width, want.width) << want.name;
      EXPECT_EQ(t.Field(i).decimals, 0) << want.name;
    }
    ASSERT_EQ(t.TagCount(), static_cast<int>(schema.tags.size()));
    for (int n = 1; n <= t.TagCount(); ++n) {
      const tv::TTagSpec& want = schema.tags[static_cast<size_t>(n - 1)];
      const tv::XbaseTagInfo tag = t.TagInfo(n);
      EXPECT_EQ(tag.name, want.name);
      EXPECT_EQ(tag.keyExpression, want.keyExpression) << want.name;
      EXPECT_EQ(tag.forExpression, want.forCondition) << want.name;
      EXPECT_EQ(tag.descending, want.descending) << want.name;
      EXPECT_FALSE(tag.unique) << want.name;
    }
  }
  fs::path home_;
};

TEST_F(FaxTablesTest, FirstOpenCreatesDesignedTablesAndASecondOpenKeepsThem) {
  {
    tv::XbaseTable out, rec;
    ASSERT_TRUE(tv::OpenOutgoingTable(out));
    ASSERT_TRUE(tv::OpenReceivedTable(rec));
    EXPECT_TRUE(out.IsExclusive());
    EXPECT_EQ(out.FilterExpression(), ".not. archived");
    EXPECT_EQ(rec.FilterExpression(), ".not. deleted()");
    Add(out, {{"SUBJECT", "kept"}, {"ARCHIVED", "F"}});
  }
  for (const char* name : {"ZTOUT.DBF", "ZTOUT.CDX", "ZTREC.DBF", "ZTREC.CDX"}) {
    EXPECT_TRUE(fs::exists(home_ / name)) << name;
  }
  const auto written = fs::last_write_time(home_ / "ZTOUT.CDX");
  tv::XbaseTable out, rec;
  ASSERT_TRUE(tv::OpenOutgoingTable(out));
  ASSERT_TRUE(tv::OpenReceivedTable(rec));
  ExpectSchema(out, tv::OutgoingSchema());
  ExpectSchema(rec, tv::ReceivedSchema());
  EXPECT_EQ(out.RecordCount(), 1);
  EXPECT_EQ(fs::last_write_time(home_ / "ZTOUT.CDX"), written);

  tv::XbaseTable book;
  ASSERT_TRUE(tv::OpenPhoneBookTable(book, false));
  ExpectSchema(book, tv::PhoneBookSchema());
  EXPECT_FALSE(book.IsExclusive());
  EXPECT_EQ(book.CurrentOrder(), book.OrderNumberOf("NAME"));
}

TEST_F(FaxTablesTest, MissingIndexIsRebuiltAndAnIncompleteOneIsLeftAlone) {
  {
    tv::XbaseTable out;
    ASSERT_TRUE(tv::OpenOutgoingTable(out));
    Add(out, {{"SUBJECT", "one"}, {"ARCHIVED", "F"}});
    Add(out, {{"SUBJECT", "two"}, {"ARCHIVED", "F"}});
  }
  fs::remove(home_ / "ZTOUT.CDX");
  {
    tv::XbaseTable out;
    ASSERT_TRUE(tv::OpenOutgoingTable(out));
    EXPECT_EQ(out.TagCount(), 5);
    EXPECT_EQ(out.CurrentOrder(), 1);  // the date order, not the last tag built
    EXPECT_EQ(out.FilterCount(), 2);
    EXPECT_TRUE(out.VerifyIndex().empty());
  }
  // An index file with only some of the tags is used as it is.
  fs::remove(home_ / "ZTOUT.CDX");
  {
    tv::XbaseTable out;
    out.Open(home_, "ZTOUT.DBF", true);
    out.CreateIndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", false, true, ".not. deleted()");
  }
  tv::XbaseTable out;
  ASSERT_TRUE(tv::OpenOutgoingTable(out));
  EXPECT_EQ(out.TagCount(), 1);
}

TEST_F(FaxTablesTest, UnreadableIndexIsSetAsideAndRebuilt) {
  {
    tv::XbaseTable rec;
    ASSERT_TRUE(tv::OpenReceivedTable(rec));
    Add(rec, {{"FROM", "ACME"}, {"PAGES", "3"}, {"ARCHIVED", "F"}});
  }
  std::ofstream(home_ / "ZTREC.CDX", std::ios::binary | std::ios::trunc) << "not an index";
  tv::XbaseTable rec;
  ASSERT_TRUE(tv::OpenReceivedTable(rec));
  EXPECT_EQ(rec.TagCount(), 3);
  EXPECT_EQ(rec.FilterCount(), 1);
  EXPECT_TRUE(fs::exists(home_ / "ZTREC.CDX"));
}

TEST_F(FaxTablesTest, DesignedOrdersDeletedAndArchivedRows) {
  tv::XbaseTable out, rec;
  ASSERT_TRUE(tv::OpenOutgoingTable(out));
  ASSERT_TRUE(tv::OpenReceivedTable(rec));
  Add(out, {{"SUBJECT", "never sent"}, {"ARCHIVED", "F"}});
  Add(out, {{"SUBJECT", "march"}, {"DATESENT", "20260301"}, {"TIMESENT", "09:00"}, {"ARCHIVED", "F"}});
  Add(out, {{"SUBJECT", "march late"}, {"DATESENT", "20260301"}, {"TIMESENT", "17:30"}, {"ARCHIVED", "F"}});
  Add(out, {{"SUBJECT", "january"}, {"DATESENT", "20260105"}, {"TIMESENT", "12:00"}, {"ARCHIVED", "F"}});
  Add(out, {{"SUBJECT", "archived"}, {"DATESENT", "20260401"}, {"TIMESENT", "08:00"}, {"ARCHIVED", "T"}});
  out.SetOrderByName("DATESENT");
  EXPECT_EQ(Column(out, "SUBJECT"),
            (std::vector<std::string>{"march late", "march", "january", "never sent"}));
  // A deleted row is neither visible nor counted.
  out.First();
  out.Delete();
  EXPECT_EQ(out.FilterCount(), 3);
  EXPECT_EQ(out.RecordCount(), 5);
  tv::ArchiveFilter() = "";
  out.SetFilterExpression(tv::ArchiveFilter());
  EXPECT_EQ(Column(out, "SUBJECT"),
            (std::vector<std::string>{"archived", "march", "january", "never sent"}));

  Add(rec, {{"FROM", "ACME"}, {"ARCHIVED", "F"}});
  Add(rec, {{"FROM", "zeta"}, {"ARCHIVED", "F"}});
  Add(rec, {{"FROM", "Mike"}, {"ARCHIVED", "F"}});
  rec.SetOrderByName("FROM");
  EXPECT_EQ(Column(rec, "FROM"), (std::vector<std::string>{"zeta", "Mike", "ACME"}));
}

TEST_F(FaxTablesTest, CreationReplacesALeftoverIndexOfAMissingTable) {
  std::ofstream(home_ / "ZTOUT.CDX") << "left over from another table";
  tv::XbaseTable out;
  ASSERT_TRUE(tv::OpenOutgoingTable(out));
  EXPECT_EQ(out.TagCount(), 5);
  EXPECT_TRUE(out.VerifyIndex().empty());
}

TEST_F(FaxTablesTest, TableThatCannotBeCreatedReportsFalse) {
  fs::create_directories(home_ / "ZTOUT.DBF");  // a folder in the table's place
  tv::XbaseTable out;
  EXPECT_FALSE(tv::OpenOutgoingTable(out));
  EXPECT_FALSE(out.IsOpen());
  setenv("TELVANE_HOME", (home_ / "missing" / "folder").c_str(), 1);
  EXPECT_FALSE(tv::CreateReceivedTable());
}

}  // namespace
