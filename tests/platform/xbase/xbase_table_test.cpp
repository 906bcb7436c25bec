#include "platform/xbase/xbase_table.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"

namespace fs = std::filesystem;

namespace tv {
namespace {

const std::vector<XbaseField> kOutgoingFields = {
    {"SUBJECT", 'C', 50, 0},   {"DATESENT", 'D', 8, 0},   {"TIMESENT", 'C', 5, 0},
    {"RECIPIENT", 'C', 35, 0}, {"PHONE", 'C', 25, 0},     {"LASTRESULT", 'C', 100, 0},
    {"FAXDOC", 'C', 12, 0},    {"FAXCOVER", 'C', 12, 0},  {"NOTES", 'C', 50, 0},
    {"CODES", 'C', 25, 0},     {"ARCHIVED", 'L', 1, 0}};

class TempFolder {
 public:
  TempFolder() {
    char buf[] = "/tmp/xbase_test_XXXXXX";
    path_ = ::mkdtemp(buf);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& p, const std::string& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << data;
}

// Record numbers of the visible rows in view order, walked with Next.
std::vector<int> Walk(XbaseTable& t) {
  std::vector<int> out;
  for (t.First(); !t.Eof(); t.Next()) out.push_back(t.RecordNumber());
  return out;
}

std::vector<int> WalkBack(XbaseTable& t) {
  std::vector<int> out;
  for (t.Last(); !t.Eof() && !t.Bof(); t.Prior()) {
    out.push_back(t.RecordNumber());
  }
  std::reverse(out.begin(), out.end());
  return out;
}

std::vector<int> Parse(const std::string& s) {
  std::vector<int> out;
  std::istringstream in(s);
  int n;
  while (in >> n) out.push_back(n);
  return out;
}

const char* kDatesentOrder = "30 26 17 24 23 10 13 12 29 28 27 2 1 21 20 9 8 14 5 4 15 7 18 22 25 11 19 6";
const char* kSubjectOrder = "10 8 9 20 21 4 5 18 11 28 2 30 6 27 12 13 15 14 1 23 24 25 22 19 29 17 26 7";
const char* kArchivedOrder = "1 5 6 8 9 10 12 13 17 19 20 21 23 24 26 27 28 29 2 4 7 11 14 15 18 22 25 30";

class FixtureTables : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    fs::path src = fs::path(TELVANE_TEST_FIXTURES) / "xbase" / GetParam();
    for (const char* f : {"OUT.DBF", "OUT.CDX"}) {
      fs::copy_file(src / f, dir.path() / f);
      fs::permissions(dir.path() / f, fs::perms::owner_read | fs::perms::owner_write);
    }
  }
  TempFolder dir;
};

TEST_P(FixtureTables, ReadsTagsWrittenByAnotherEngine) {
  XbaseTable t;
  t.Open(dir.path(), "out.dbf", true);
  EXPECT_EQ(t.IndexStatus(), XbaseIndexStatus::isAttached);
  EXPECT_EQ(t.RecordCount(), 30);
  ASSERT_EQ(t.TagCount(), 3);
  EXPECT_EQ(t.TagInfo(1).name, "DATESENT");
  EXPECT_EQ(t.TagInfo(1).keyExpression, "DTOS(DATESENT)+TIMESENT");
  EXPECT_EQ(t.TagInfo(1).forExpression, ".not. deleted()");
  EXPECT_TRUE(t.TagInfo(1).descending);
  EXPECT_EQ(t.OrderNumberOf("subject"), 2);
  EXPECT_EQ(t.OrderNumberOf("nosuch"), 0);
  EXPECT_TRUE(t.VerifyIndex().empty());

  EXPECT_EQ(t.SetOrderByNumber(1), 0);
  EXPECT_EQ(Walk(t), Parse(kDatesentOrder));
  EXPECT_EQ(WalkBack(t), Parse(kDatesentOrder));
  t.SetOrderByName("SUBJECT");
  EXPECT_EQ(t.CurrentOrder(), 2);
  EXPECT_EQ(Walk(t), Parse(kSubjectOrder));
  t.SetOrderByNumber(3);
  EXPECT_EQ(Walk(t), Parse(kArchivedOrder));
  t.SetOrderByNumber(0);
  EXPECT_EQ(Walk(t).size(), 28u);  // records 3 and 16 are deleted

  // Field values.
  t.GoToRecord(6);
  EXPECT_EQ(t.AsDate("DATESENT"), "");
  EXPECT_TRUE(t.AsDateParts("DATESENT").IsBlank());
  t.GoToRecord(30);
  EXPECT_EQ(t.AsDate("datesent"), "20240815");
  EXPECT_EQ(t.AsString("TIMESENT"), "17:45");
  EXPECT_THROW(t.GoToRecord(3), ERecordNotFound);
  EXPECT_THROW(t.GoToRecord(31), ERecordNotFound);
}

TEST_P(FixtureTables, MaintainsTagsWrittenByAnotherEngine) {
  {
    XbaseTable t;
    t.Open(dir.path(), "OUT.DBF", true);
    // Append, edit, delete; every tag stays right.
    t.Append();
    t.SetString("SUBJECT", "aardvark");
    t.SetDate("DATESENT", "20991231");
    t.SetString("TIMESENT", "23:59");
    t.SetBoolean("ARCHIVED", true);
    t.Post();
    EXPECT_EQ(t.RecordNumber(), 31);
    t.GoToRecord(10);
    t.Edit();
    t.SetString("SUBJECT", "zzz last");
    t.Post();
    t.GoToRecord(26);
    t.Delete();
    EXPECT_TRUE(t.VerifyIndex().empty());
    t.SetOrderByNumber(1);
    std::vector<int> d = Walk(t);
    EXPECT_EQ(d.front(), 31);
    EXPECT_EQ(std::count(d.begin(), d.end(), 26), 0);
    t.SetOrderByNumber(2);
    std::vector<int> s = Walk(t);
    EXPECT_EQ(s.front(), 31);
    EXPECT_EQ(s.back(), 10);
  }
  {
    // Pack renumbers and rebuilds; orders follow the moved rows.
    XbaseTable t;
    t.Open(dir.path(), "OUT.DBF", true);
    std::vector<int> progress;
    t.SetProgressHandler([&](int p) { progress.push_back(p); });
    t.PackTable();
    EXPECT_EQ(t.RecordCount(), 28);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_TRUE(t.VerifyIndex().empty());
    EXPECT_EQ(t.TagCount(), 3);
    t.SetOrderByNumber(3);
    EXPECT_EQ(Walk(t).size(), 28u);
  }
  // The file is still one that a FoxPro reader accepts: size rule and flag.
  std::string dbf = ReadFile(dir.path() / "OUT.DBF");
  uint32_t hl = static_cast<uint8_t>(dbf[8]) | (static_cast<uint8_t>(dbf[9]) << 8);
  EXPECT_EQ(dbf.size(), hl + 28u * 125 + 1);
  EXPECT_EQ(dbf.back(), '\x1A');
  EXPECT_EQ(dbf[28] & 1, 1);
  EXPECT_EQ(ReadFile(dir.path() / "OUT.CDX").size() % 512, 0u);
}

INSTANTIATE_TEST_SUITE_P(BothKinds, FixtureTables, ::testing::Values("foxpro", "vfp"));

// The outgoing table as the fax store makes it.
class OutgoingTable : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateTableFile(dir.path() / "ZTOUT.DBF", "XXXXXXXXXX", kXbaseTableTypeFoxPro, kOutgoingFields),
              ecOK);
    table.Open(dir.path(), "ZTOUT.DBF", true);
  }
  void MakeTags() {
    table.CreateIndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", false, true, ".not. deleted()");
    table.CreateIndexTag("SUBJECT", "UPPER(SUBJECT)", false, false, ".not. deleted()");
    table.CreateIndexTag("RECIPIENT", "UPPER(RECIPIENT)", false, false, ".not. deleted()");
    table.CreateIndexTag("CODES", "UPPER(CODES)", false, false, ".not. deleted()");
    table.CreateIndexTag("ARCHIVED", "ARCHIVED", false, false, ".not. deleted()");
  }
  void Add(const std::string& subject, const std::string& date, const std::string& time, bool archived = false) {
    table.Append();
    table.SetString("SUBJECT", subject);
    table.SetDate("DATESENT", date);
    table.SetString("TIMESENT", time);
    table.SetBoolean("ARCHIVED", archived);
    table.Post();
  }
  TempFolder dir;
  XbaseTable table;
};

TEST_F(OutgoingTable, CreatesTheDesignedFileAndTags) {
  EXPECT_EQ(table.FieldCount(), 11);
  EXPECT_EQ(table.Field(5).name, "LASTRESULT");
  EXPECT_EQ(table.Field(5).width, 100);
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_EQ(table.RecordNumber(), 1);  // no current row
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.IndexStatus(), XbaseIndexStatus::isNone);
  MakeTags();
  EXPECT_EQ(table.CurrentOrder(), 5);
  EXPECT_TRUE(fs::exists(dir.path() / "ZTOUT.CDX"));
  EXPECT_THROW(table.CreateIndexTag("subject", "SUBJECT", false, false, ""), EBadArgument);
  Add("Beta", "20240101", "10:00");
  Add("alpha", "20240301", "09:00");
  Add("Never sent", "", "");
  Add("gamma", "20240301", "09:00", true);
  table.SetOrderByNumber(1);
  EXPECT_EQ(Walk(table), (std::vector<int>{4, 2, 1, 3}));
  table.SetOrderByName("SUBJECT");
  EXPECT_EQ(Walk(table), (std::vector<int>{2, 1, 4, 3}));
  table.SetFilterExpression(".not. archived");
  EXPECT_EQ(Walk(table), (std::vector<int>{2, 1, 3}));
  EXPECT_EQ(table.FilterCount(), 3);
  EXPECT_EQ(table.RecordCount(), 4);
  EXPECT_THROW(table.GoToRecord(4), ERecordNotFound);
  EXPECT_THROW(table.SetFilterExpression("archived +"), EBadArgument);
  EXPECT_EQ(table.FilterExpression(), ".not. archived");
  EXPECT_THROW(table.SetFilterExpression("SUBJECT"), EBadArgument);
  table.Close();

  // Reopen: the tags are there in creation order; the filter comes back.
  table.Open(dir.path(), "ztout.dbf", true);
  EXPECT_EQ(table.IndexStatus(), XbaseIndexStatus::isAttached);
  ASSERT_EQ(table.TagCount(), 5);
  const char* names[] = {"DATESENT", "SUBJECT", "RECIPIENT", "CODES", "ARCHIVED"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(table.TagInfo(i + 1).name, names[i]);
  EXPECT_EQ(table.FilterCount(), 3);
  EXPECT_TRUE(table.VerifyIndex().empty());
}

TEST_F(OutgoingTable, DeletedRowsAreHiddenAndPackRemovesThem) {
  MakeTags();
  for (int i = 0; i < 10; ++i) Add("row " + std::to_string(i), "2024010" + std::to_string(i % 9 + 1), "12:00");
  table.SetOrderByNumber(0);
  table.GoToRecord(4);
  table.Delete();
  EXPECT_EQ(table.RecordNumber(), 5);  // the next row becomes current
  table.GoToRecord(10);
  table.Delete();
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.RecordNumber(), 11);
  EXPECT_EQ(table.FilterCount(), 8);
  EXPECT_EQ(table.RecordCount(), 10);
  for (int order = 1; order <= 5; ++order) {
    table.SetOrderByNumber(order);
    std::vector<int> rows = Walk(table);
    EXPECT_EQ(rows.size(), 8u);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), 4), 0);
  }
  table.PackTable();
  EXPECT_EQ(table.RecordCount(), 8);
  EXPECT_EQ(table.CurrentOrder(), 5);
  table.SetOrderByNumber(0);
  table.GoToRecord(4);
  EXPECT_EQ(table.AsString("SUBJECT"), "row 4");
  EXPECT_TRUE(table.VerifyIndex().empty());
}

TEST_F(OutgoingTable, PositionalAccessForGrids) {
  MakeTags();
  std::vector<XbaseChange> changes;
  table.SetChangeHandler([&](XbaseChange c) { changes.push_back(c); });
  for (int i = 0; i < 50; ++i) Add("s" + std::to_string(100 + i), "20240101", "10:" + std::to_string(10 + i), i % 5 == 0);
  EXPECT_FALSE(changes.empty());
  table.SetFilterExpression(".not. archived");
  table.SetOrderByNumber(1);
  ASSERT_EQ(table.VisibleCount(), 40);
  std::vector<int> walked = Walk(table);
  for (int pos = 0; pos < 40; ++pos) {
    table.GoToPosition(pos);
    EXPECT_EQ(table.RecordNumber(), walked[pos]);
    EXPECT_EQ(table.PositionOf(walked[pos]), pos);
  }
  EXPECT_EQ(table.PositionOf(1), -1);  // archived
  EXPECT_THROW(table.GoToPosition(40), ERecordNotFound);
  // Counts follow changes.
  table.GoToPosition(0);
  table.Delete();
  EXPECT_EQ(table.VisibleCount(), 39);
  changes.clear();
  table.DisableNotifications();
  table.First();
  table.Next();
  EXPECT_TRUE(changes.empty());
  table.EnableNotifications();
  EXPECT_EQ(changes, (std::vector<XbaseChange>{XbaseChange::xcReopened}));
}

TEST_F(OutgoingTable, FieldValuesAndTheirLimits) {
  std::vector<XbaseField> f = {{"NAME", 'C', 5, 0}, {"PAGES", 'N', 2, 0}, {"AMOUNT", 'N', 8, 2},
                               {"WHEN", 'D', 8, 0}, {"FLAG", 'L', 1, 0}};
  ASSERT_EQ(CreateTableFile(dir.path() / "V.DBF", "XXXXXXXXXX", kXbaseTableTypeFoxPro, f), ecOK);
  XbaseTable t;
  t.Open(dir.path(), "V.DBF", true);
  EXPECT_THROW(t.SetString("NAME", "x"), EBadArgument);  // no Append/Edit
  t.Append();
  t.SetString("NAME", "longer than five");
  t.SetInteger("PAGES", 42);
  t.SetString("AMOUNT", "-1.5");
  t.SetDate("WHEN", XbaseDate{2024, 2, 29});
  t.SetBoolean("FLAG", true);
  EXPECT_THROW(t.SetInteger("PAGES", 100), EBadArgument);
  EXPECT_THROW(t.SetString("AMOUNT", "abc"), EBadArgument);
  EXPECT_THROW(t.SetDate("WHEN", "20230229"), EBadArgument);
  EXPECT_THROW(t.SetString("NOSUCH", "x"), EBadArgument);
  t.Post();
  EXPECT_EQ(t.AsString("NAME"), "longe");
  EXPECT_EQ(t.AsInteger("PAGES"), 42);
  EXPECT_EQ(t.AsString("AMOUNT"), "-1.50");
  EXPECT_EQ(t.AsDate("WHEN"), "20240229");
  EXPECT_EQ(t.AsDateParts("WHEN").month, 2);
  EXPECT_TRUE(t.AsBoolean("FLAG"));
  t.Close();
  std::string data = ReadFile(dir.path() / "V.DBF");
  EXPECT_NE(data.find(" longe42   -1.5020240229T\x1A"), std::string::npos);

  struct BadCreate {
    std::vector<XbaseField> fields;
    int type;
  };
  const BadCreate bad[] = {
      {{}, kXbaseTableTypeFoxPro},
      {{{"A", 'C', 5, 0}}, 1},
      {{{"A", 'C', 0, 0}}, kXbaseTableTypeFoxPro},
      {{{"A", 'D', 6, 0}}, kXbaseTableTypeFoxPro},
      {{{"A", 'Q', 5, 0}}, kXbaseTableTypeFoxPro},
      {{{"A", 'C', 5, 0}, {"a", 'C', 5, 0}}, kXbaseTableTypeFoxPro},
      {{{"TOOLONGNAME", 'C', 5, 0}}, kXbaseTableTypeFoxPro},
      {{{"1A", 'C', 5, 0}}, kXbaseTableTypeFoxPro},
  };
  for (const auto& b : bad) EXPECT_EQ(CreateTableFile(dir.path() / "B.DBF", "X", b.type, b.fields), ecBadArgument);
  EXPECT_FALSE(fs::exists(dir.path() / "B.DBF"));
}

// Many rows and long keys: trees of several levels, page splits on the way
// up and merges when most rows are deleted again.
TEST(XbaseTrees, SplitsAndMergesKeepEveryTagRight) {
  TempFolder dir;
  std::vector<XbaseField> f = {{"NAME", 'C', 200, 0}, {"N", 'N', 10, 0}, {"D", 'D', 8, 0}};
  ASSERT_EQ(CreateTableFile(dir.path() / "T.DBF", "X", kXbaseTableTypeFoxPro, f), ecOK);
  XbaseTable t;
  t.Open(dir.path(), "T.DBF", true);
  t.CreateIndexTag("NAME", "UPPER(NAME)", false, false, ".not. deleted()");
  t.CreateIndexTag("N", "N", false, true, "");
  t.CreateIndexTag("D", "D", false, false, ".not. deleted()");
  t.CreateIndexTag("NU", "LEFT(NAME, 3)", true, false, "");
  std::mt19937 rng(7);
  std::vector<std::string> names;
  const int kRows = 1500;
  for (int i = 0; i < kRows; ++i) {
    std::string name = "n" + std::to_string(rng() % 1000) + std::string(rng() % 150, 'x') + std::to_string(i);
    names.push_back(name);
    t.Append();
    t.SetString("NAME", name);
    t.SetInteger("N", static_cast<int64_t>(rng() % 2000) - 1000);
    if (i % 7) t.SetDate("D", XbaseDate{1990 + static_cast<int>(rng() % 30), 1 + static_cast<int>(rng() % 12), 1});
    t.Post();
  }
  std::vector<std::string> faults = t.VerifyIndex();
  EXPECT_TRUE(faults.empty()) << faults.front();
  // Ascending NAME order equals sorted names.
  t.SetOrderByName("NAME");
  std::vector<std::string> seen;
  for (t.First(); !t.Eof(); t.Next()) seen.push_back(t.AsString("NAME"));
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(seen, sorted);
  // Descending numeric order.
  t.SetOrderByName("N");
  int64_t prev = INT64_MAX;
  int count = 0;
  for (t.First(); !t.Eof(); t.Next(), ++count) {
    EXPECT_LE(t.AsInteger("N"), prev);
    prev = t.AsInteger("N");
  }
  EXPECT_EQ(count, kRows);
  // Edits move keys, deletes empty pages, most rows go.
  t.SetOrderByNumber(0);
  for (int r = 1; r <= kRows; ++r) {
    t.GoToRecord(r);
    if (r % 10 == 0) {
      t.Edit();
      t.SetString("NAME", "edited " + std::to_string(r));
      t.SetInteger("N", r);
      t.Post();
    } else if (r % 10 != 3) {
      t.Delete();
    }
  }
  faults = t.VerifyIndex();
  EXPECT_TRUE(faults.empty()) << faults.front();
  t.SetOrderByName("NAME");
  EXPECT_EQ(Walk(t).size(), static_cast<size_t>(kRows / 10 * 2));
  uint64_t sizeBefore = fs::file_size(dir.path() / "T.CDX");
  t.PackTable();
  EXPECT_LT(fs::file_size(dir.path() / "T.CDX"), sizeBefore);
  faults = t.VerifyIndex();
  EXPECT_TRUE(faults.empty()) << faults.front();
  // Back in: pages taken from the free list are reused.
  for (int i = 0; i < 300; ++i) {
    t.Append();
    t.SetString("NAME", "again " + std::to_string(i));
    t.Post();
  }
  faults = t.VerifyIndex();
  EXPECT_TRUE(faults.empty()) << faults.front();
}

// ---- Damaged files -----------------------------------------------------------------

class DamagedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path src = fs::path(TELVANE_TEST_FIXTURES) / "xbase" / "foxpro";
    dbf = ReadFile(src / "OUT.DBF");
    cdx = ReadFile(src / "OUT.CDX");
  }
  // Opens the pair as given; returns the error text or "" when it opened.
  std::string TryOpen(const std::string& d, const std::string& c, XbaseIndexStatus* status = nullptr) {
    WriteFile(dir.path() / "OUT.DBF", d);
    std::error_code ec;
    fs::remove(dir.path() / "OUT.CDX", ec);
    fs::remove(dir.path() / "OUT.CDX.damaged", ec);
    if (!c.empty()) WriteFile(dir.path() / "OUT.CDX", c);
    XbaseTable t;
    try {
      t.Open(dir.path(), "OUT.DBF", true);
      if (status) *status = t.IndexStatus();
      t.SetOrderByNumber(std::min(1, t.TagCount()));
      Walk(t);
      return "";
    } catch (const ETvException& e) {
      return e.what();
    }
  }
  TempFolder dir;
  std::string dbf, cdx;
};

TEST_F(DamagedFiles, BadTablesGiveAnErrorNamingTheFile) {
  struct Case {
    const char* what;
    std::string data;
    const char* says;
  };
  std::string badCount = dbf;
  badCount[4] = 40;
  std::string badLength = dbf;
  badLength[10] = 100;
  std::string badDescriptor = dbf;
  badDescriptor[32 + 32 + 16] = 0;  // DATESENT width 0
  std::string noEnd = dbf;
  for (size_t i = 32; i < 226; ++i)
    if (noEnd[i] == '\x0D') noEnd[i] = 'A';
  std::string badHeaderLength = dbf;
  badHeaderLength[8] = '\xFF';
  badHeaderLength[9] = '\x7F';
  std::string badName = dbf;
  badName[32] = '\x01';
  const Case cases[] = {
      {"truncated to 10 bytes", dbf.substr(0, 10), "too short"},
      {"truncated inside the rows", dbf.substr(0, 226 + 125 * 10), "counts 30 records but the file holds 10"},
      {"record count too high", badCount, "counts 40 records"},
      {"record length wrong", badLength, "record length"},
      {"field width zero", badDescriptor, "bad type or width"},
      {"no end of field list", noEnd, "field"},
      {"header length beyond the file", badHeaderLength, "header length"},
      {"field name not a name", badName, "bad name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string err = TryOpen(c.data, cdx);
    EXPECT_NE(err.find("OUT.DBF"), std::string::npos) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
  }
  // A table cut in the last record (a stop during an append) still opens.
  std::string partial = dbf.substr(0, 226 + 125 * 30) + dbf.substr(226, 60);
  EXPECT_EQ(TryOpen(partial, cdx), "");
  // No end-of-file byte: opens too.
  EXPECT_EQ(TryOpen(dbf.substr(0, dbf.size() - 1), cdx), "");
  EXPECT_NE(TryOpen(dbf, "").find(""), std::string::npos);
}

TEST_F(DamagedFiles, UnreadableIndexIsSetAsideWithNoRowLost) {
  auto put32 = [](std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
  };
  struct Case {
    const char* what;
    std::string data;
  };
  std::string rootOutside = cdx;
  put32(rootOutside, 0x0600, 0x100000);  // DATESENT root beyond the end
  std::string dirOutside = cdx;
  put32(dirOutside, 0, 0x7FFFFE00);
  std::string badExpr = cdx;
  std::memcpy(&badExpr[0x0800], "DTOS(NOSUCH)", 12);
  std::string badLeaf = cdx;
  badLeaf[0x0A00 + 23] = 9;  // entry width 9 bytes
  std::string badKeyLength = cdx;
  badKeyLength[0x0600 + 12] = 0;
  std::string siblingOutside = cdx;
  put32(siblingOutside, 0x0A00 + 8, 0x200000);
  const Case cases[] = {
      {"truncated", cdx.substr(0, 700)},
      {"tag root outside the file", rootOutside},
      {"directory root outside the file", dirOutside},
      {"key expression that does not parse", badExpr},
      {"leaf with a bad layout", badLeaf},
      {"key length zero", badKeyLength},
      {"sibling outside the file", siblingOutside},
      {"garbage", std::string(6144, '\xAB')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir.path() / "OUT.DBF", dbf);
    std::error_code ec;
    fs::remove(dir.path() / "OUT.CDX.damaged", ec);
    WriteFile(dir.path() / "OUT.CDX", c.data);
    XbaseTable t;
    std::string err;
    try {
      t.Open(dir.path(), "OUT.DBF", true);
      // Damage deeper in a tree shows when the tag is read.
      for (int o = 1; o <= t.TagCount(); ++o) {
        t.SetOrderByNumber(o);
        Walk(t);
      }
    } catch (const EInOutError& e) {
      err = e.what();
    }
    ASSERT_TRUE(t.IsOpen());
    EXPECT_EQ(t.IndexStatus(), XbaseIndexStatus::isSetAside);
    EXPECT_NE(t.IndexStatusText().find("OUT.CDX"), std::string::npos) << t.IndexStatusText();
    EXPECT_NE(t.IndexStatusText().find("OUT.CDX.damaged"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.path() / "OUT.CDX"));
    EXPECT_EQ(ReadFile(dir.path() / "OUT.CDX.damaged"), c.data);
    EXPECT_EQ(t.TagCount(), 0);
    EXPECT_EQ(t.CurrentOrder(), 0);
    EXPECT_EQ(Walk(t).size(), 28u);
  }
}

// ---- Two programs at once -------------------------------------------------------

TEST(XbaseSharing, ExclusiveAndSharedOpening) {
  TempFolder dir;
  ASSERT_EQ(CreateTableFile(dir.path() / "PB.DBF", "X", kXbaseTableTypeFoxPro,
                            {{"NAME", 'C', 35, 0}, {"PHONE", 'C', 25, 0}}),
            ecOK);
  {
    XbaseTable a;
    a.Open(dir.path(), "PB.DBF", true);
    XbaseTable b;
    try {
      b.Open(dir.path(), "PB.DBF", false);
      ADD_FAILURE() << "opened a table held exclusively";
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.ErrorCode(), ecAccessDenied);
      EXPECT_NE(std::string(e.what()).find("PB.DBF"), std::string::npos);
    }
  }
  {
    XbaseTable a;
    a.Open(dir.path(), "PB.DBF", false);
    a.CreateIndexTag("NAME", "NAME", false, false, ".not. deleted()");
    XbaseTable b;
    EXPECT_THROW(b.Open(dir.path(), "PB.DBF", true), EInOutError);
    b.Open(dir.path(), "PB.DBF", false);
    EXPECT_EQ(b.TagCount(), 1);
    EXPECT_THROW(b.PackTable(), EBadArgument);
  }
  // Two processes appending at once in shared mode: no row is lost or
  // overwritten and the tag holds every row.
  const int kEach = 150;
  pid_t kids[2];
  for (int k = 0; k < 2; ++k) {
    kids[k] = ::fork();
    if (kids[k] == 0) {
      int rc = 0;
      try {
        XbaseTable t;
        t.Open(dir.path(), "PB.DBF", false);
        for (int i = 0; i < kEach; ++i) {
          t.Append();
          t.SetString("NAME", "kid" + std::to_string(k) + " " + std::to_string(i));
          t.Post();
        }
      } catch (...) {
        rc = 1;
      }
      ::_exit(rc);
    }
  }
  for (pid_t kid : kids) {
    int status = 0;
    ::waitpid(kid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  XbaseTable t;
  t.Open(dir.path(), "PB.DBF", true);
  EXPECT_EQ(t.RecordCount(), 2 * kEach);
  EXPECT_TRUE(t.VerifyIndex().empty());
  t.SetOrderByNumber(1);
  std::vector<std::string> names;
  for (t.First(); !t.Eof(); t.Next()) names.push_back(t.AsString("NAME"));
  EXPECT_EQ(names.size(), static_cast<size_t>(2 * kEach));
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// What "telvane-fax table check" relies on: a read-only look finds keys that
// disagree with the rows and never renames or repairs anything.
TEST_F(DamagedFiles, LookingOnlyFindsFaultsAndChangesNothing) {
  std::string wrongKey = cdx;
  std::memcpy(&wrongKey[0x0A00 + 0x1FB], "99:99", 5);  // a DATESENT key no row has
  WriteFile(dir.path() / "OUT.DBF", dbf);
  WriteFile(dir.path() / "OUT.CDX", wrongKey);
  {
    XbaseTable t;
    t.OpenReadOnly(dir.path(), "OUT.DBF");
    std::vector<std::string> faults = t.VerifyIndex();
    ASSERT_FALSE(faults.empty());
    EXPECT_NE(faults.front().find("DATESENT"), std::string::npos) << faults.front();
    t.GoToRecord(1);
    EXPECT_THROW(t.Edit(), EBadArgument);
    t.Append();
    EXPECT_THROW(t.Post(), EBadArgument);
  }
  std::string truncated = cdx.substr(0, 1000);
  WriteFile(dir.path() / "OUT.CDX", truncated);
  XbaseTable t;
  try {
    t.OpenReadOnly(dir.path(), "OUT.DBF");
    ADD_FAILURE() << "opened";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("OUT.CDX"), std::string::npos);
  }
  EXPECT_EQ(ReadFile(dir.path() / "OUT.CDX"), truncated);
  EXPECT_EQ(ReadFile(dir.path() / "OUT.DBF"), dbf);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Tags we build over the reference rows are byte for byte the leaves and
// tag headers the other engine wrote (only page offsets differ).
TEST(XbaseInterchange, OurPagesMatchTheOtherEnginesBytes) {
  TempFolder dir;
  fs::path src = fs::path(TELVANE_TEST_FIXTURES) / "xbase" / "foxpro";
  WriteFile(dir.path() / "OUT.DBF", ReadFile(src / "OUT.DBF"));
  std::string theirs = ReadFile(src / "OUT.CDX");
  {
    XbaseTable t;
    t.Open(dir.path(), "OUT.DBF", true);
    t.CreateIndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", false, true, ".not. deleted()");
    t.CreateIndexTag("SUBJECT", "UPPER(SUBJECT)", false, false, ".not. deleted()");
    t.CreateIndexTag("ARCHIVED", "ARCHIVED", false, false, ".not. deleted()");
  }
  std::string ours = ReadFile(dir.path() / "OUT.CDX");
  ASSERT_EQ(ours.size() % 512, 0u);
  auto findPage = [&](const std::string& page, size_t from, size_t len) {
    for (size_t off = 0; off + 512 <= ours.size(); off += 512)
      if (ours.compare(off + from, len, page, from, len) == 0) return true;
    return false;
  };
  for (size_t leaf : {0x0A00u, 0x1000u, 0x1600u}) {
    SCOPED_TRACE(leaf);
    EXPECT_TRUE(findPage(theirs.substr(leaf, 512), 0, 512));
  }
  for (size_t header : {0x0600u, 0x0C00u, 0x1200u}) {
    SCOPED_TRACE(header);
    std::string h = theirs.substr(header, 1024);
    bool found = false;
    for (size_t off = 0; off + 1024 <= ours.size() && !found; off += 512)
      found = ours.compare(off + 4, 1020, h, 4, 1020) == 0;  // all but the root offset
    EXPECT_TRUE(found);
  }
  // The file header: directory key length, options, signature, expressions.
  EXPECT_EQ(ours.compare(12, 4, theirs, 12, 4), 0);
  EXPECT_EQ(ours.compare(502, 10, theirs, 502, 10), 0);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Random damage anywhere in either file: an error or a set-aside index,
// never a crash or a hang.
TEST_F(DamagedFiles, RandomDamageNeverCrashes) {
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    std::string d = dbf, c = cdx;
    bool hitTable = round % 4 == 0;
    std::string& victim = hitTable ? d : c;
    for (int k = 0, n = 1 + static_cast<int>(rng() % 8); k < n; ++k) {
      size_t at = hitTable ? rng() % 300 : rng() % victim.size();
      victim[at] = static_cast<char>(rng());
    }
    WriteFile(dir.path() / "OUT.DBF", d);
    WriteFile(dir.path() / "OUT.CDX", c);
    std::error_code ec;
    fs::remove(dir.path() / "OUT.CDX.damaged", ec);
    XbaseTable t;
    try {
      t.Open(dir.path(), "OUT.DBF", true);
      for (int o = 0; o <= t.TagCount(); ++o) {
        t.SetOrderByNumber(o);
        Walk(t);
        WalkBack(t);
        t.VisibleCount();
      }
      t.VerifyIndex();
      if (t.RecordCount() > 0) {
        t.First();
        if (!t.Eof()) {
          t.Edit();
          t.SetString(0, "changed");
          t.Post();
        }
      }
    } catch (const ETvException&) {
    }
  }
}

}  // namespace
}  // namespace tv
