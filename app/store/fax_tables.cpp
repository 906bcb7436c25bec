#include "app/store/fax_tables.h"

#include "app/store/fax_files.h"
#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"
#include "send/config/app_folder.h"

namespace tv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNotDeleted = ".not. deleted()";

std::string BaseName(const TTableSchema& schema) {
  std::string name = schema.fileName;
  return name.substr(0, name.size() - 4);
}

// Steps shared by all three tables; `after` runs the table's own last step.
template <typename After>
bool OpenStoreTable(XbaseTable& table, const TTableSchema& schema, bool exclusive, After after) {
  const fs::path folder = AppFolder();
  if (!FileExistsNoCase(folder, schema.fileName)) {
    if (!CreateStoreTable(schema)) return false;
  }
  try {
    if (table.IsOpen()) table.Close();
    table.Open(folder, schema.fileName, exclusive);
  } catch (const ETvException&) {
    return false;
  }
  try {
    // An index file the engine could not read was set aside: it is missing
    // now, and its tags are built afresh from the rows.
    if (!FileExistsNoCase(folder, BaseName(schema) + ".CDX")) {
      CreateStoreTags(table, schema);
      // Building a tag selects it; the list is shown in its first order (the
      // one its sort menu has ticked), not in the last tag built.
      table.SetOrderByNumber(1);
    }
    after();
  } catch (const ETvException&) {
    // The table is open; a later step's error leaves it as it is.
  }
  return true;
}

}  // namespace

const TTableSchema& OutgoingSchema() {
  static const TTableSchema schema{
      "ZTOUT.DBF",
      {{"SUBJECT", 'C', 50, 0},
       {"DATESENT", 'D', 8, 0},
       {"TIMESENT", 'C', 5, 0},
       {"RECIPIENT", 'C', 35, 0},
       {"PHONE", 'C', 25, 0},
       {"LASTRESULT", 'C', 100, 0},
       {"FAXDOC", 'C', 12, 0},
       {"FAXCOVER", 'C', 12, 0},
       {"NOTES", 'C', 50, 0},
       {"CODES", 'C', 25, 0},
       {"ARCHIVED", 'L', 1, 0}},
      {{"DATESENT", "DTOS(DATESENT)+TIMESENT", true, kNotDeleted},
       {"SUBJECT", "UPPER(SUBJECT)", false, kNotDeleted},
       {"RECIPIENT", "UPPER(RECIPIENT)", false, kNotDeleted},
       {"CODES", "UPPER(CODES)", false, kNotDeleted},
       {"ARCHIVED", "ARCHIVED", false, kNotDeleted}},
      {{"DATESENT", "Date Sent", 8},
       {"TIMESENT", "Time Sent", 5},
       {"PHONE", "Fax#", 15},
       {"RECIPIENT", "Recipient", 20},
       {"SUBJECT", "Subject", 20},
       {"LASTRESULT", "Last Attempt", 20},
       {"NOTES", "Notes", 25},
       {"CODES", "Codes", 15}}};
  return schema;
}

const TTableSchema& ReceivedSchema() {
  static const TTableSchema schema{
      "ZTREC.DBF",
      {{"DATEREC", 'D', 8, 0},
       {"TIMEREC", 'C', 5, 0},
       {"FROM", 'C', 20, 0},
       {"PAGES", 'N', 2, 0},
       {"FAXFILE", 'C', 12, 0},
       {"NOTES", 'C', 60, 0},
       {"ARCHIVED", 'L', 1, 0}},
      {{"DATETIME", "DTOS(DATEREC)+TIMEREC", true, kNotDeleted},
       {"FROM", "UPPER(FROM)", true, kNotDeleted},
       {"ARCHIVED", "ARCHIVED", false, kNotDeleted}},
      {{"DATEREC", "Date Rec'd", 8},
       {"TIMEREC", "Time Rec'd", 5},
       {"FROM", "From", 20},
       {"PAGES", "Pages", 2},
       {"NOTES", "Notes", 60}}};
  return schema;
}

const TTableSchema& PhoneBookSchema() {
  static const TTableSchema schema{
      "ZTPB.DBF",
      {{"NAME", 'C', 35, 0}, {"PHONE", 'C', 25, 0}},
      {{"NAME", "NAME", false, kNotDeleted}},
      {{"NAME", "Name", 31}, {"PHONE", "Fax #", 25}}};
  return schema;
}

fs::path IndexFileOf(const TTableSchema& schema) {
  return FindFileNoCase(AppFolder(), BaseName(schema) + ".CDX");
}

bool CreateStoreTable(const TTableSchema& schema) {
  const fs::path folder = AppFolder();
  std::error_code ec;
  const fs::path index = IndexFileOf(schema);
  if (fs::exists(index, ec) && !FileExistsNoCase(folder, schema.fileName)) fs::remove(index, ec);
  const fs::path path = folder / schema.fileName;
  if (CreateTableFile(path, kTableAlias, kXbaseTableTypeFoxPro, schema.fields) != ecOK) {
    return false;
  }
  return fs::exists(path, ec);
}

bool CreateOutgoingTable() { return CreateStoreTable(OutgoingSchema()); }
bool CreateReceivedTable() { return CreateStoreTable(ReceivedSchema()); }
bool CreatePhoneBookTable() { return CreateStoreTable(PhoneBookSchema()); }

void CreateStoreTags(XbaseTable& table, const TTableSchema& schema) {
  for (const TTagSpec& tag : schema.tags) {
    table.CreateIndexTag(tag.name, tag.keyExpression, false, tag.descending, tag.forCondition);
  }
}

bool OpenOutgoingTable(XbaseTable& table) {
  return OpenStoreTable(table, OutgoingSchema(), true, [&] {
    table.First();
    table.SetFilterExpression(ArchiveFilter());
  });
}

bool OpenReceivedTable(XbaseTable& table) {
  return OpenStoreTable(table, ReceivedSchema(), true,
                        [&] { table.SetFilterExpression(kNotDeleted); });
}

bool OpenPhoneBookTable(XbaseTable& table, bool exclusive) {
  return OpenStoreTable(table, PhoneBookSchema(), exclusive, [&] {
    table.SetOrderByName("NAME");
    table.SetFilterExpression(kNotDeleted);
  });
}

}  // namespace tv
