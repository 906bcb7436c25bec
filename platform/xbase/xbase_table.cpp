#include "platform/xbase/xbase_table.h"

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"

namespace tv {

struct XbaseTable::Impl {};

int CreateTableFile(const std::filesystem::path&, const std::string&, int, const std::vector<XbaseField>&) { return ecNotSupported; }

namespace {
[[noreturn]] void NotReady() { throw EBadArgument(ecBadArgument, "The table engine is not built yet"); }
}

XbaseTable::XbaseTable() : impl_(std::make_unique<Impl>()) {}
XbaseTable::~XbaseTable() = default;
void XbaseTable::Open(const std::filesystem::path&, const std::string&,
            bool) { NotReady(); }
void XbaseTable::Close() { NotReady(); }
bool XbaseTable::IsOpen() const { NotReady(); }
bool XbaseTable::IsExclusive() const { NotReady(); }
std::filesystem::path XbaseTable::FilePath() const { NotReady(); }
std::filesystem::path XbaseTable::IndexFilePath() const { NotReady(); }
XbaseIndexStatus XbaseTable::IndexStatus() const { NotReady(); }
std::string XbaseTable::IndexStatusText() const { NotReady(); }
int XbaseTable::FieldCount() const { NotReady(); }
const XbaseField& XbaseTable::Field(int) const { NotReady(); }
int XbaseTable::FieldIndex(const std::string&) const { NotReady(); }
int XbaseTable::TableTypeByte() const { NotReady(); }
void XbaseTable::CreateIndexTag(const std::string&, const std::string&,
                      bool, bool, const std::string&) { NotReady(); }
int XbaseTable::TagCount() const { NotReady(); }
XbaseTagInfo XbaseTable::TagInfo(int) const { NotReady(); }
int XbaseTable::SetOrderByNumber(int) { NotReady(); }
int XbaseTable::SetOrderByName(const std::string&) { NotReady(); }
int XbaseTable::CurrentOrder() const { NotReady(); }
int XbaseTable::OrderNumberOf(const std::string&) const { NotReady(); }
void XbaseTable::CloseIndexFiles() { NotReady(); }
void XbaseTable::SetFilterExpression(const std::string&) { NotReady(); }
std::string XbaseTable::FilterExpression() const { NotReady(); }
int XbaseTable::FilterCount() { NotReady(); }
int XbaseTable::RecordCount() const { NotReady(); }
int XbaseTable::RecordNumber() const { NotReady(); }
void XbaseTable::GoToRecord(int) { NotReady(); }
void XbaseTable::First() { NotReady(); }
void XbaseTable::Last() { NotReady(); }
void XbaseTable::Next() { NotReady(); }
void XbaseTable::Prior() { NotReady(); }
bool XbaseTable::Eof() const { NotReady(); }
bool XbaseTable::Bof() const { NotReady(); }
int XbaseTable::VisibleCount() { NotReady(); }
void XbaseTable::GoToPosition(int) { NotReady(); }
int XbaseTable::PositionOf(int) { NotReady(); }
void XbaseTable::Append() { NotReady(); }
void XbaseTable::Edit() { NotReady(); }
void XbaseTable::Post() { NotReady(); }
void XbaseTable::Cancel() { NotReady(); }
void XbaseTable::Delete() { NotReady(); }
void XbaseTable::Refresh() { NotReady(); }
XbaseEditState XbaseTable::State() const { NotReady(); }
bool XbaseTable::IsDeleted() const { NotReady(); }
std::string XbaseTable::AsString(int) const { NotReady(); }
std::string XbaseTable::AsString(const std::string&) const { NotReady(); }
bool XbaseTable::AsBoolean(int) const { NotReady(); }
bool XbaseTable::AsBoolean(const std::string&) const { NotReady(); }
std::string XbaseTable::AsDate(int) const { NotReady(); }
std::string XbaseTable::AsDate(const std::string&) const { NotReady(); }
XbaseDate XbaseTable::AsDateParts(int) const { NotReady(); }
XbaseDate XbaseTable::AsDateParts(const std::string&) const { NotReady(); }
int64_t XbaseTable::AsInteger(int) const { NotReady(); }
int64_t XbaseTable::AsInteger(const std::string&) const { NotReady(); }
bool XbaseTable::IsBlank(int) const { NotReady(); }
void XbaseTable::SetString(int, const std::string&) { NotReady(); }
void XbaseTable::SetString(const std::string&, const std::string&) { NotReady(); }
void XbaseTable::SetBoolean(int, bool) { NotReady(); }
void XbaseTable::SetBoolean(const std::string&, bool) { NotReady(); }
void XbaseTable::SetDate(int, const std::string&) { NotReady(); }
void XbaseTable::SetDate(const std::string&, const std::string&) { NotReady(); }
void XbaseTable::SetDate(int, const XbaseDate&) { NotReady(); }
void XbaseTable::SetDate(const std::string&, const XbaseDate&) { NotReady(); }
void XbaseTable::SetInteger(int, int64_t) { NotReady(); }
void XbaseTable::SetInteger(const std::string&, int64_t) { NotReady(); }
void XbaseTable::PackTable() { NotReady(); }
std::vector<std::string> XbaseTable::VerifyIndex() { NotReady(); }
void XbaseTable::SetProgressHandler(std::function<void(int percent)>) { NotReady(); }
void XbaseTable::SetChangeHandler(std::function<void(XbaseChange)>) { NotReady(); }
void XbaseTable::DisableNotifications() { NotReady(); }
void XbaseTable::EnableNotifications() { NotReady(); }
}  // namespace tv
