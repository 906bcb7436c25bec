// "Rebuild Indexes" over the real table engine: rows marked for deletion are
// gone afterwards, every table has its tags again, the orders in use stay.
#include "app/store/rebuild_dialog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <fstream>

#include "app/store/fax_files.h"
#include "app/store/fax_tables.h"
#include "platform/core/error_codes.h"
#include "send/config/app_folder.h"

namespace fs = std::filesystem;

namespace {

TEST(RebuildInd, PacksAndRebuildsAllThreeTables) {
  static int argc = 1;
  static char arg0[] = "rebuild_dialog_test";
  static char* argv[] = {arg0, nullptr};
  QApplication app(argc, argv);
  const fs::path home = fs::temp_directory_path() / ("telvane_rebuild_" + std::to_string(::getpid()));
  fs::remove_all(home);
  fs::create_directories(home);
  setenv("TELVANE_HOME", home.c_str(), 1);
  if (tv::CreateTableFile(home / "PROBE.DBF", "X", tv::kXbaseTableTypeFoxPro,
                          {{"A", 'C', 1, 0}}) == tv::ecNotSupported) {
    GTEST_SKIP() << "the table engine is not built yet";
  }
  tv::XbaseTable out, rec;
  ASSERT_TRUE(tv::OpenOutgoingTable(out));
  ASSERT_TRUE(tv::OpenReceivedTable(rec));
  for (const char* subject : {"keep", "drop", "also keep"}) {
    out.Append();
    out.SetString("SUBJECT", subject);
    out.SetBoolean("ARCHIVED", false);
    out.Post();
  }
  rec.Append();
  rec.SetString("FROM", "ACME");
  rec.Post();
  out.SetOrderByName("SUBJECT");
  out.First();
  while (out.AsString("SUBJECT") != "drop") out.Next();
  out.Delete();
  rec.SetOrderByName("FROM");
  // The phone book exists before the rebuild, so the dialog takes it too.
  {
    tv::XbaseTable book;
    ASSERT_TRUE(tv::OpenPhoneBookTable(book, true));
  }

  tv::TRebuildInd dialog(out, rec);
  dialog.RunRebuild();
  EXPECT_TRUE(dialog.Faults().isEmpty()) << dialog.Faults().join("\n").toStdString();
  EXPECT_EQ(dialog.StatusText(), "Rebuilding PHONE file indexes");

  EXPECT_EQ(out.RecordCount(), 2);
  EXPECT_EQ(out.TagCount(), 5);
  EXPECT_EQ(out.CurrentOrder(), out.OrderNumberOf("SUBJECT"));
  EXPECT_TRUE(out.VerifyIndex().empty());
  EXPECT_EQ(rec.TagCount(), 3);
  EXPECT_EQ(rec.CurrentOrder(), rec.OrderNumberOf("FROM"));
  tv::XbaseTable book;
  ASSERT_TRUE(tv::OpenPhoneBookTable(book, true));  // closed again by the dialog
  EXPECT_EQ(book.TagCount(), 1);
  book.Close();
  out.Close();
  rec.Close();
  unsetenv("TELVANE_HOME");
  fs::remove_all(home);
}

}  // namespace
