// The xBase table engine: FoxPro-compatible tables (.DBF) with their
// structural compound index (.CDX) of tags, as other FoxPro-compatible
// programs read and write them.
//
// A table is one XbaseTable object. Open() attaches the index file of the
// same base name when it exists. The view of the table follows the current
// order (a tag, or 0 for physical order) and the filter expression; deleted
// rows are always hidden. Every change is written through at once: Post()
// writes the record and updates every tag before it returns, so a table
// never holds unsaved rows.
//
// Failures raise ETvException subclasses (platform/core/exceptions.h) whose
// message names the file:
//   EInOutError      file could not be opened, read, written, locked, or is
//                    damaged (code: the file layer's code, ecDataError for a
//                    damaged file, ecAccessDenied for a lock held elsewhere);
//   EBadArgument     bad expression, unknown field, tag or order, a value
//                    that does not fit the field, a call in the wrong state;
//   ERecordNotFound  GoToRecord/GoToPosition to a row that is not there or
//                    not visible.
// CreateTableFile reports through its result code instead.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tv {

// Table type of CreateTableFile: the FoxPro kind with a ".CDX" compound
// index (the only kind this engine writes).
constexpr int kXbaseTableTypeFoxPro = 2;

// One field of a table, in file order. Types written and read: 'C'
// character (blank padded), 'D' date (YYYYMMDD), 'N' numeric (ASCII, right
// aligned), 'L' logical ('T'/'F', blank = false). Fields of other types in
// tables written by other programs read as their stored text.
struct XbaseField {
  std::string name;  // at most 10 characters, stored in upper case
  char type = 'C';
  int width = 1;
  int decimals = 0;
};

// Creates an empty table file at `path` (no index file) with the given
// fields. The alias is accepted for the caller's records and not stored.
// Returns ecOK, or an error code: ecBadArgument (bad table type or field
// list: empty, duplicate or bad names, bad widths, record longer than the
// format allows) or a positive file error code. An existing file is
// replaced only once the new one is complete (written beside it, renamed).
int CreateTableFile(const std::filesystem::path& path, const std::string& alias,
                    int tableType, const std::vector<XbaseField>& fields);

// One tag of the index file.
struct XbaseTagInfo {
  std::string name;           // upper case, at most 10 characters
  std::string keyExpression;  // as stored in the index file
  std::string forExpression;  // empty when the tag has no FOR condition
  bool descending = false;
  bool unique = false;
};

// What Open() did with the index file of the same base name.
enum class XbaseIndexStatus {
  isNone,      // no index file exists; the table is open without tags
  isAttached,  // the index file was read and its tags are available
  isSetAside,  // the index file could not be read: it was renamed to
               // <name>.damaged (or .damaged1, .damaged2, ... when taken)
               // and the table opened without tags; IndexStatusText() says why
};

// Notifications for a grid showing the table.
enum class XbaseChange {
  xcRowMoved,     // the current row changed
  xcDataChanged,  // rows were added, changed or deleted, or the order or
                  // filter changed: positions and counts may differ
  xcReopened,     // the table was opened, closed, packed or re-indexed
};

enum class XbaseEditState { esBrowse, esEdit, esInsert };

// A date value of a 'D' field; all zero when the field is blank.
struct XbaseDate {
  int year = 0;
  int month = 0;
  int day = 0;
  bool IsBlank() const { return year == 0 && month == 0 && day == 0; }
};

class XbaseTable {
 public:
  XbaseTable();
  ~XbaseTable();
  XbaseTable(const XbaseTable&) = delete;
  XbaseTable& operator=(const XbaseTable&) = delete;

  // ---- Opening and closing -------------------------------------------
  // Opens folder/fileName (the file name is found whatever its letter
  // case). Exclusive: no other program may open the table while it is open
  // here. Shared: others may open it shared too; every read and write then
  // takes a file lock so that two programs never write over each other, and
  // rows appended elsewhere become visible. Attaches the index file of the
  // same base name (.CDX, any case); see IndexStatus(). The filter
  // expression set earlier is applied again. Afterwards the current row is
  // the first visible one.
  void Open(const std::filesystem::path& folder, const std::string& fileName,
            bool exclusive);
  // Opens for looking only (checking and dumping tools): the files are never
  // changed; an unreadable index file raises EInOutError instead of being
  // set aside, and any change is refused.
  void OpenReadOnly(const std::filesystem::path& folder, const std::string& fileName);
  // Closes the table (posting nothing: an unposted edit is discarded).
  void Close();
  bool IsOpen() const;
  bool IsExclusive() const;
  std::filesystem::path FilePath() const;       // the .DBF
  std::filesystem::path IndexFilePath() const;  // the .CDX (may not exist)

  XbaseIndexStatus IndexStatus() const;
  // Empty when attached or none; otherwise the reason and the new name.
  std::string IndexStatusText() const;

  // ---- Structure ------------------------------------------------------
  int FieldCount() const;
  const XbaseField& Field(int index) const;  // 0-based
  // 0-based index of a field (case-blind), or -1 when there is none.
  int FieldIndex(const std::string& name) const;
  // The table type byte of the file header (0x03, 0x30, 0xF5, ...).
  int TableTypeByte() const;

  // ---- Tags and orders ------------------------------------------------
  // Adds a tag to the index file (creating the file and setting the
  // table's structural-index flag when there is none), builds it over all
  // rows and selects it. Raises EBadArgument for a bad name, a key or FOR
  // expression that does not parse or does not give a key, or a tag name
  // already present. A tag of the same name is never silently replaced.
  void CreateIndexTag(const std::string& tag, const std::string& keyExpression,
                      bool unique, bool descending, const std::string& forCondition);
  int TagCount() const;
  XbaseTagInfo TagInfo(int number) const;  // 1..TagCount(), creation order
  // Selects an order: 0 physical, 1..TagCount() a tag. Returns the
  // previous order number. The current row stays current when visible.
  int SetOrderByNumber(int number);
  int SetOrderByName(const std::string& tag);  // empty: physical order
  int CurrentOrder() const;
  // Order number of a tag (case-blind), 0 when there is none.
  int OrderNumberOf(const std::string& tag) const;
  // Detaches the index file (it stays on disk); physical order afterwards.
  void CloseIndexFiles();

  // ---- Filter and counts ----------------------------------------------
  // Only rows for which the expression is true are visible; empty shows
  // every row that is not deleted. Raises EBadArgument when it does not
  // parse or is not logical (the previous filter then stays).
  void SetFilterExpression(const std::string& expression);
  std::string FilterExpression() const;
  // Visible rows: not deleted and passing the filter.
  int FilterCount();
  // Physical rows in the file, deleted ones included.
  int RecordCount() const;
  // Physical number (from 1) of the current row, RecordCount()+1 when none.
  int RecordNumber() const;
  // Makes a row current; raises ERecordNotFound when it does not exist or
  // is not visible (deleted or filtered out).
  void GoToRecord(int recordNumber);

  // ---- Moving through the view (current order and filter) -------------
  void First();
  void Last();
  void Next();   // past the last row: Eof() and no current row
  void Prior();  // before the first row: Bof(), stays on the first row
  bool Eof() const;
  bool Bof() const;

  // ---- Positional access for grids --------------------------------------
  // The same as FilterCount(); cached until the next change.
  int VisibleCount();
  // Makes the n-th visible row (0-based) current; raises ERecordNotFound
  // when out of range. Cheap once VisibleCount() has been called.
  void GoToPosition(int position);
  // 0-based position of a record in the current view, -1 when not visible.
  int PositionOf(int recordNumber);

  // ---- Editing ----------------------------------------------------------
  // Append starts a new blank row (not yet in the file); Edit starts
  // changing the current row; Post writes either, updating every tag, and
  // keeps the row current. Cancel drops the change.
  void Append();
  void Edit();
  void Post();
  void Cancel();
  // Sets the deletion flag of the current row (the row then disappears from
  // the view and from tags with a ".not. deleted()" condition); the next
  // visible row becomes current.
  void Delete();
  // Re-reads the current row and, when shared, rows added elsewhere.
  void Refresh();
  XbaseEditState State() const;
  // The deletion flag of the current row.
  bool IsDeleted() const;

  // ---- Field values of the current row (or the row being edited) -------
  // Field by 0-based index or by name (case-blind; EBadArgument if none).
  // Without a current row every value is blank.
  std::string AsString(int field) const;  // trailing blanks removed
  std::string AsString(const std::string& field) const;
  bool AsBoolean(int field) const;  // 'T','t','Y','y' true
  bool AsBoolean(const std::string& field) const;
  std::string AsDate(int field) const;  // "YYYYMMDD", empty when blank
  std::string AsDate(const std::string& field) const;
  XbaseDate AsDateParts(int field) const;
  XbaseDate AsDateParts(const std::string& field) const;
  int64_t AsInteger(int field) const;  // 0 when blank or not a number
  int64_t AsInteger(const std::string& field) const;
  bool IsBlank(int field) const;

  // Setters need Append() or Edit() first. Character values longer than the
  // field are cut; numbers that do not fit and bad dates raise EBadArgument.
  void SetString(int field, const std::string& value);
  void SetString(const std::string& field, const std::string& value);
  void SetBoolean(int field, bool value);
  void SetBoolean(const std::string& field, bool value);
  void SetDate(int field, const std::string& yyyymmdd);  // empty: blank
  void SetDate(const std::string& field, const std::string& yyyymmdd);
  void SetDate(int field, const XbaseDate& date);
  void SetDate(const std::string& field, const XbaseDate& date);
  void SetInteger(int field, int64_t value);
  void SetInteger(const std::string& field, int64_t value);

  // ---- Maintenance ------------------------------------------------------
  // Removes deleted rows: writes a new table (and index, when attached)
  // beside the old one and renames it over it, so a failure at any moment
  // leaves either the old or the new table whole. Needs exclusive opening.
  void PackTable();
  // The stored bytes of a row (deletion flag first), deleted or not.
  std::string RecordBytes(int recordNumber);
  // Record numbers in a tag's order (1..TagCount()), as the tag holds them:
  // deleted rows included when its FOR condition lets them in.
  std::vector<int> TagRecords(int number);
  // Checks every tag against the rows (keys, order, FOR condition, tree
  // structure). Returns one line per fault, empty when all is well.
  std::vector<std::string> VerifyIndex();

  // ---- Callbacks ----------------------------------------------------------
  // Progress of PackTable and CreateIndexTag: 0..100, called with 0 at the
  // start and 100 at the end. Empty function: none.
  void SetProgressHandler(std::function<void(int percent)> handler);
  void SetChangeHandler(std::function<void(XbaseChange)> handler);
  // While disabled (nesting counts), no change notifications are sent; the
  // last EnableNotifications() sends one xcReopened when anything happened.
  void DisableNotifications();
  void EnableNotifications();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tv
