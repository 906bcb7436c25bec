// The three tables of the fax store: the outgoing fax queue ZTOUT.DBF, the
// received fax list ZTREC.DBF and the phone book ZTPB.DBF, each with its
// compound index file (.CDX) in the data folder. This file fixes their
// fields, widths and tags, how each is created when missing and opened, and
// the columns the grids show.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/xbase/xbase_table.h"

namespace tv {

struct TTagSpec {
  const char* name;
  const char* keyExpression;
  bool descending;
  const char* forCondition;
};

// A grid column: the field, its label and its display width in characters.
struct TGridColumn {
  const char* field;
  const char* label;
  int width;
};

struct TTableSchema {
  const char* fileName;  // "ZTOUT.DBF"
  std::vector<XbaseField> fields;
  std::vector<TTagSpec> tags;  // in creation order: tag n is order number n
  std::vector<TGridColumn> columns;  // shown, in the default order left to right
};

// Alias the tables are created with.
inline constexpr const char* kTableAlias = "XXXXXXXXXX";
// The filter that hides deleted rows (the phone book's filter).
inline constexpr const char* kNotDeletedFilter = ".not. deleted()";

const TTableSchema& OutgoingSchema();
const TTableSchema& ReceivedSchema();
const TTableSchema& PhoneBookSchema();

// Creates the table file in the data folder (table type 2, alias
// "XXXXXXXXXX", the fields in file order); true when the file exists
// afterwards. A leftover index file of the same base name is removed first,
// since its keys would point at rows of another file.
bool CreateStoreTable(const TTableSchema& schema);
bool CreateOutgoingTable();
bool CreateReceivedTable();
bool CreatePhoneBookTable();

// Creates the schema's tags in their order (this creates the index file).
void CreateStoreTags(XbaseTable& table, const TTableSchema& schema);

// Opens a store table: creates it when missing, opens it (exclusively or
// shared), builds every tag when the whole index file is missing (also when
// the engine set an unreadable one aside; the first tag's order is then
// selected) and applies the table's filter:
// outgoing: first row and the archive filter; received: ".not. deleted()";
// phone book: the NAME order and ".not. deleted()". False when the table
// cannot be created, closed or opened; once it is open, an error of a later
// step is swallowed (the remaining steps are skipped) and the result is true.
bool OpenOutgoingTable(XbaseTable& table);
bool OpenReceivedTable(XbaseTable& table);
bool OpenPhoneBookTable(XbaseTable& table, bool exclusive);

// The index file path of a table: data folder + base name + ".CDX".
std::filesystem::path IndexFileOf(const TTableSchema& schema);

}  // namespace tv
