// telvane-fax table dump|check FILE.DBF: looks into a table and its
// compound index without changing either.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/core/exceptions.h"
#include "platform/xbase/xbase_table.h"
#include "tools/telvane-fax/commands.h"

namespace tv::tool {
namespace {

void OpenForLooking(XbaseTable& t, const std::string& file) {
  std::filesystem::path p(file);
  std::filesystem::path folder = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
  t.OpenReadOnly(folder, p.filename().string());
}

int Dump(XbaseTable& t) {
  std::printf("Table %s (type byte 0x%02X), %d records\n", t.FilePath().string().c_str(), t.TableTypeByte(),
              t.RecordCount());
  std::printf("Fields:\n");
  for (int i = 0; i < t.FieldCount(); ++i) {
    const XbaseField& f = t.Field(i);
    std::printf("  %2d %-10s %c %3d %d\n", i + 1, f.name.c_str(), f.type, f.width, f.decimals);
  }
  std::printf("Rows:\n");
  for (int r = 1; r <= t.RecordCount(); ++r) {
    std::string raw = t.RecordBytes(r);
    std::printf("  %6d %s |", r, raw[0] == '*' ? "*" : " ");
    size_t at = 1;
    for (int i = 0; i < t.FieldCount(); ++i) {
      std::string v = raw.substr(at, t.Field(i).width);
      at += t.Field(i).width;
      while (!v.empty() && v.back() == ' ') v.pop_back();
      std::printf("%s|", v.c_str());
    }
    std::printf("\n");
  }
  if (t.IndexStatus() == XbaseIndexStatus::isNone) {
    std::printf("No index file.\n");
    return 0;
  }
  if (!t.IndexStatusText().empty()) std::printf("Note: %s\n", t.IndexStatusText().c_str());
  std::printf("Tags of %s:\n", t.IndexFilePath().string().c_str());
  for (int n = 1; n <= t.TagCount(); ++n) {
    XbaseTagInfo info = t.TagInfo(n);
    std::printf("  %d %s\n    key: %s\n    for: %s\n    %s%s\n    records:", n, info.name.c_str(),
                info.keyExpression.c_str(), info.forExpression.empty() ? "(none)" : info.forExpression.c_str(),
                info.descending ? "descending" : "ascending", info.unique ? ", unique" : "");
    for (int r : t.TagRecords(n)) std::printf(" %d", r);
    std::printf("\n");
  }
  return 0;
}

int Check(XbaseTable& t) {
  if (!t.IndexStatusText().empty()) {
    std::fprintf(stderr, "%s: %s\n", t.FilePath().string().c_str(), t.IndexStatusText().c_str());
    return 1;
  }
  std::vector<std::string> faults = t.VerifyIndex();
  if (!faults.empty()) {
    std::fprintf(stderr, "%s: %s\n", t.IndexFilePath().string().c_str(), faults.front().c_str());
    return 1;
  }
  std::printf("%s: %d records, %d tags, all tags agree with the rows\n", t.FilePath().string().c_str(),
              t.RecordCount(), t.TagCount());
  return 0;
}

int RunTable(const std::vector<std::string>& args) {
  if (args.size() != 2 || (args[0] != "dump" && args[0] != "check")) {
    std::fprintf(stderr, "Usage: telvane-fax table dump FILE.DBF | telvane-fax table check FILE.DBF\n");
    return 2;
  }
  XbaseTable t;
  try {
    OpenForLooking(t, args[1]);
    return args[0] == "dump" ? Dump(t) : Check(t);
  } catch (const ETvException& e) {
    std::fprintf(stderr, "telvane-fax table %s: %s\n", args[0].c_str(), e.what());
    return 1;
  }
}

const CommandRegistrar kTable({"table",
                               "telvane-fax table dump FILE.DBF    fields, rows with deletion flags, every tag\n"
                               "telvane-fax table check FILE.DBF   verify every tag against the rows",
                               RunTable});

}  // namespace
}  // namespace tv::tool
