#include "tests/app/shell/fake_xbase_table.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"
#include "platform/xbase/xbase_table.h"

namespace tv {

namespace fs = std::filesystem;

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  size_t b = 0;
  while (b < s.size() && s[b] == ' ') ++b;
  return s.substr(b);
}

struct Row {
  std::vector<std::string> values;
  bool deleted = false;
};

struct Data {
  std::vector<XbaseField> fields;
  std::vector<Row> rows;
  std::vector<XbaseTagInfo> tags;
};

std::map<std::string, Data>& Tables() {
  static std::map<std::string, Data> tables;
  return tables;
}

[[noreturn]] void Bad(const std::string& why) { throw EBadArgument(ecBadArgument, why); }

}  // namespace

namespace fake {
void ResetTables() { Tables().clear(); }
void AddRow(const fs::path& dbf, const std::vector<std::pair<std::string, std::string>>& values) {
  Data& d = Tables().at(Upper(dbf.string()));
  Row row;
  row.values.resize(d.fields.size());
  for (auto& [name, value] : values) {
    for (size_t i = 0; i < d.fields.size(); ++i) {
      if (Upper(d.fields[i].name) == Upper(name)) row.values[i] = value;
    }
  }
  d.rows.push_back(row);
}
}  // namespace fake

int CreateTableFile(const fs::path& path, const std::string&, int tableType,
                    const std::vector<XbaseField>& fields) {
  if (tableType != kXbaseTableTypeFoxPro || fields.empty()) return ecBadArgument;
  std::ofstream out(path, std::ios::binary);
  if (!out) return ecPathNotFound;
  out << "fake";
  Data d;
  d.fields = fields;
  Tables()[Upper(path.string())] = d;
  return ecOK;
}

struct XbaseTable::Impl {
  bool open = false;
  bool exclusive = false;
  fs::path path;
  Data* data = nullptr;
  int order = 0;
  std::string filter;
  int cur = -1;  // row index, -1 none
  XbaseEditState state = XbaseEditState::esBrowse;
  Row edit;
  std::function<void(XbaseChange)> onChange;
  std::function<void(int)> onProgress;
  int disabled = 0;
  bool pending = false;

  void Notify(XbaseChange c) {
    if (disabled > 0) {
      pending = true;
      return;
    }
    if (onChange) onChange(c);
  }
  void NeedOpen() const {
    if (!open) Bad("table not open");
  }
  int Field(const std::string& name) const {
    for (size_t i = 0; i < data->fields.size(); ++i) {
      if (Upper(data->fields[i].name) == Upper(name)) return static_cast<int>(i);
    }
    return -1;
  }
  bool Passes(const Row& r) const {
    if (r.deleted) return false;
    const std::string f = Upper(filter);
    if (f.empty() || f == ".NOT. DELETED()") return true;
    if (f == ".NOT. ARCHIVED") return r.values[static_cast<size_t>(Field("ARCHIVED"))] != "T";
    Bad("filter not known to the fake: " + filter);
  }
  std::string Key(const Row& r, const std::string& expr) const {
    std::string key, e = Upper(expr);
    size_t start = 0;
    while (start <= e.size()) {
      size_t plus = e.find('+', start);
      std::string term = e.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
      std::string name = term;
      if (term.rfind("UPPER(", 0) == 0 || term.rfind("DTOS(", 0) == 0) {
        name = term.substr(term.find('(') + 1);
        name.pop_back();
      }
      int i = Field(name);
      if (i < 0) Bad("bad key " + expr);
      std::string v = r.values[static_cast<size_t>(i)];
      v.resize(static_cast<size_t>(data->fields[static_cast<size_t>(i)].width), ' ');
      key += term.rfind("UPPER(", 0) == 0 ? Upper(v) : v;
      if (plus == std::string::npos) break;
      start = plus + 1;
    }
    return key;
  }
  std::vector<int> View() const {
    std::vector<int> v;
    for (size_t i = 0; i < data->rows.size(); ++i) {
      if (Passes(data->rows[i])) v.push_back(static_cast<int>(i));
    }
    if (order > 0) {
      const XbaseTagInfo& t = data->tags[static_cast<size_t>(order - 1)];
      std::stable_sort(v.begin(), v.end(), [&](int a, int b) {
        std::string ka = Key(data->rows[static_cast<size_t>(a)], t.keyExpression);
        std::string kb = Key(data->rows[static_cast<size_t>(b)], t.keyExpression);
        return t.descending ? kb < ka : ka < kb;
      });
    }
    return v;
  }
  const Row* Current() const {
    if (state != XbaseEditState::esBrowse) return &edit;
    return cur >= 0 ? &data->rows[static_cast<size_t>(cur)] : nullptr;
  }
  void FirstVisible() {
    auto v = View();
    cur = v.empty() ? -1 : v.front();
  }
};

XbaseTable::XbaseTable() : impl_(std::make_unique<Impl>()) {}
XbaseTable::~XbaseTable() = default;

void XbaseTable::Open(const fs::path& folder, const std::string& fileName, bool exclusive) {
  const fs::path path = folder / fileName;
  auto it = Tables().find(Upper(path.string()));
  if (it == Tables().end()) throw EInOutError(ecFileNotFound, "cannot open " + path.string());
  impl_->open = true;
  impl_->exclusive = exclusive;
  impl_->path = path;
  impl_->data = &it->second;
  fs::path cdx = path;
  cdx.replace_extension(".CDX");
  if (!fs::exists(cdx)) impl_->data->tags.clear();
  impl_->order = 0;
  impl_->state = XbaseEditState::esBrowse;
  impl_->FirstVisible();
  impl_->Notify(XbaseChange::xcReopened);
}
void XbaseTable::Close() {
  impl_->open = false;
  impl_->cur = -1;
  impl_->data = nullptr;
  impl_->Notify(XbaseChange::xcReopened);
}
bool XbaseTable::IsOpen() const { return impl_->open; }
bool XbaseTable::IsExclusive() const { return impl_->exclusive; }
fs::path XbaseTable::FilePath() const { return impl_->path; }
fs::path XbaseTable::IndexFilePath() const {
  fs::path p = impl_->path;
  return p.replace_extension(".CDX");
}
XbaseIndexStatus XbaseTable::IndexStatus() const {
  return impl_->data && !impl_->data->tags.empty() ? XbaseIndexStatus::isAttached
                                                   : XbaseIndexStatus::isNone;
}
std::string XbaseTable::IndexStatusText() const { return {}; }
int XbaseTable::FieldCount() const {
  impl_->NeedOpen();
  return static_cast<int>(impl_->data->fields.size());
}
const XbaseField& XbaseTable::Field(int index) const {
  impl_->NeedOpen();
  return impl_->data->fields.at(static_cast<size_t>(index));
}
int XbaseTable::FieldIndex(const std::string& name) const {
  impl_->NeedOpen();
  return impl_->Field(name);
}
int XbaseTable::TableTypeByte() const { return 0x30; }
void XbaseTable::CreateIndexTag(const std::string& tag, const std::string& key, bool unique,
                                bool descending, const std::string& forCondition) {
  impl_->NeedOpen();
  for (auto& t : impl_->data->tags) {
    if (Upper(t.name) == Upper(tag)) Bad("tag exists");
  }
  impl_->data->tags.push_back({Upper(tag), key, forCondition, descending, unique});
  std::ofstream(IndexFilePath()) << "fake";
  if (impl_->onProgress) {
    impl_->onProgress(0);
    impl_->onProgress(100);
  }
  impl_->order = static_cast<int>(impl_->data->tags.size());
  impl_->Notify(XbaseChange::xcDataChanged);
}
int XbaseTable::TagCount() const {
  impl_->NeedOpen();
  return static_cast<int>(impl_->data->tags.size());
}
XbaseTagInfo XbaseTable::TagInfo(int number) const {
  impl_->NeedOpen();
  return impl_->data->tags.at(static_cast<size_t>(number - 1));
}
int XbaseTable::SetOrderByNumber(int number) {
  impl_->NeedOpen();
  if (number < 0 || number > TagCount()) Bad("no such order");
  const int previous = impl_->order;
  impl_->order = number;
  impl_->Notify(XbaseChange::xcDataChanged);
  return previous;
}
int XbaseTable::SetOrderByName(const std::string& tag) {
  if (tag.empty()) return SetOrderByNumber(0);
  const int n = OrderNumberOf(tag);
  if (n == 0) Bad("no such tag");
  return SetOrderByNumber(n);
}
int XbaseTable::CurrentOrder() const {
  impl_->NeedOpen();
  return impl_->order;
}
int XbaseTable::OrderNumberOf(const std::string& tag) const {
  impl_->NeedOpen();
  for (size_t i = 0; i < impl_->data->tags.size(); ++i) {
    if (Upper(impl_->data->tags[i].name) == Upper(tag)) return static_cast<int>(i + 1);
  }
  return 0;
}
void XbaseTable::CloseIndexFiles() {
  impl_->NeedOpen();
  impl_->data->tags.clear();
  impl_->order = 0;
}
void XbaseTable::SetFilterExpression(const std::string& expression) {
  const std::string old = impl_->filter;
  impl_->filter = expression;
  if (impl_->open) {
    try {
      impl_->View();
    } catch (...) {
      impl_->filter = old;
      throw;
    }
    const Row* r = impl_->Current();
    if (!r || !impl_->Passes(*r)) impl_->FirstVisible();
    impl_->Notify(XbaseChange::xcDataChanged);
  }
}
std::string XbaseTable::FilterExpression() const { return impl_->filter; }
int XbaseTable::FilterCount() {
  impl_->NeedOpen();
  return static_cast<int>(impl_->View().size());
}
int XbaseTable::RecordCount() const {
  impl_->NeedOpen();
  return static_cast<int>(impl_->data->rows.size());
}
int XbaseTable::RecordNumber() const {
  impl_->NeedOpen();
  return impl_->cur >= 0 ? impl_->cur + 1 : RecordCount() + 1;
}
void XbaseTable::GoToRecord(int recordNumber) {
  impl_->NeedOpen();
  if (recordNumber < 1 || recordNumber > RecordCount() ||
      !impl_->Passes(impl_->data->rows[static_cast<size_t>(recordNumber - 1)])) {
    throw ERecordNotFound(ecRecordNotFound, "record not found");
  }
  impl_->cur = recordNumber - 1;
  impl_->Notify(XbaseChange::xcRowMoved);
}
void XbaseTable::First() {
  impl_->NeedOpen();
  impl_->FirstVisible();
  impl_->Notify(XbaseChange::xcRowMoved);
}
void XbaseTable::Last() {
  impl_->NeedOpen();
  auto v = impl_->View();
  impl_->cur = v.empty() ? -1 : v.back();
  impl_->Notify(XbaseChange::xcRowMoved);
}
void XbaseTable::Next() {
  auto v = impl_->View();
  auto it = std::find(v.begin(), v.end(), impl_->cur);
  impl_->cur = (it == v.end() || it + 1 == v.end()) ? -1 : *(it + 1);
  impl_->Notify(XbaseChange::xcRowMoved);
}
void XbaseTable::Prior() {
  auto v = impl_->View();
  auto it = std::find(v.begin(), v.end(), impl_->cur);
  if (it != v.end() && it != v.begin()) impl_->cur = *(it - 1);
  impl_->Notify(XbaseChange::xcRowMoved);
}
bool XbaseTable::Eof() const { return impl_->cur < 0; }
bool XbaseTable::Bof() const { return false; }
int XbaseTable::VisibleCount() { return FilterCount(); }
void XbaseTable::GoToPosition(int position) {
  auto v = impl_->View();
  if (position < 0 || position >= static_cast<int>(v.size())) {
    throw ERecordNotFound(ecRecordNotFound, "no such position");
  }
  impl_->cur = v[static_cast<size_t>(position)];
  impl_->Notify(XbaseChange::xcRowMoved);
}
int XbaseTable::PositionOf(int recordNumber) {
  auto v = impl_->View();
  auto it = std::find(v.begin(), v.end(), recordNumber - 1);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}
void XbaseTable::Append() {
  impl_->NeedOpen();
  impl_->edit = Row{};
  impl_->edit.values.resize(impl_->data->fields.size());
  impl_->state = XbaseEditState::esInsert;
}
void XbaseTable::Edit() {
  if (impl_->cur < 0) Bad("no row");
  impl_->edit = impl_->data->rows[static_cast<size_t>(impl_->cur)];
  impl_->state = XbaseEditState::esEdit;
}
void XbaseTable::Post() {
  if (impl_->state == XbaseEditState::esInsert) {
    impl_->data->rows.push_back(impl_->edit);
    impl_->cur = static_cast<int>(impl_->data->rows.size()) - 1;
  } else if (impl_->state == XbaseEditState::esEdit) {
    impl_->data->rows[static_cast<size_t>(impl_->cur)] = impl_->edit;
  }
  impl_->state = XbaseEditState::esBrowse;
  impl_->Notify(XbaseChange::xcDataChanged);
}
void XbaseTable::Cancel() { impl_->state = XbaseEditState::esBrowse; }
void XbaseTable::Delete() {
  if (impl_->cur < 0) Bad("no row");
  impl_->data->rows[static_cast<size_t>(impl_->cur)].deleted = true;
  impl_->FirstVisible();
  impl_->Notify(XbaseChange::xcDataChanged);
}
void XbaseTable::Refresh() {}
XbaseEditState XbaseTable::State() const { return impl_->state; }
bool XbaseTable::IsDeleted() const {
  const Row* r = impl_->Current();
  return r && r->deleted;
}
std::string XbaseTable::AsString(int field) const {
  impl_->NeedOpen();
  const Row* r = impl_->Current();
  return r ? Trim(r->values.at(static_cast<size_t>(field))) : std::string();
}
std::string XbaseTable::AsString(const std::string& field) const {
  impl_->NeedOpen();
  int i = impl_->Field(field);
  if (i < 0) Bad("no field " + field);
  return AsString(i);
}
bool XbaseTable::AsBoolean(int field) const { return AsString(field) == "T"; }
bool XbaseTable::AsBoolean(const std::string& field) const { return AsString(field) == "T"; }
std::string XbaseTable::AsDate(int field) const { return AsString(field); }
std::string XbaseTable::AsDate(const std::string& field) const { return AsString(field); }
XbaseDate XbaseTable::AsDateParts(int field) const {
  std::string s = AsString(field);
  if (s.size() != 8) return {};
  return {std::stoi(s.substr(0, 4)), std::stoi(s.substr(4, 2)), std::stoi(s.substr(6, 2))};
}
XbaseDate XbaseTable::AsDateParts(const std::string& field) const {
  return AsDateParts(FieldIndex(field));
}
int64_t XbaseTable::AsInteger(int field) const {
  std::string s = AsString(field);
  return s.empty() ? 0 : std::stoll(s);
}
int64_t XbaseTable::AsInteger(const std::string& field) const { return AsInteger(FieldIndex(field)); }
bool XbaseTable::IsBlank(int field) const { return AsString(field).empty(); }
void XbaseTable::SetString(int field, const std::string& value) {
  if (impl_->state == XbaseEditState::esBrowse) Bad("not editing");
  impl_->edit.values.at(static_cast<size_t>(field)) = value;
}
void XbaseTable::SetString(const std::string& field, const std::string& value) {
  SetString(FieldIndex(field), value);
}
void XbaseTable::SetBoolean(int field, bool value) { SetString(field, value ? "T" : "F"); }
void XbaseTable::SetBoolean(const std::string& field, bool value) {
  SetString(field, value ? "T" : "F");
}
void XbaseTable::SetDate(int field, const std::string& d) { SetString(field, d); }
void XbaseTable::SetDate(const std::string& field, const std::string& d) { SetString(field, d); }
void XbaseTable::SetDate(int, const XbaseDate&) { Bad("not in the fake"); }
void XbaseTable::SetDate(const std::string&, const XbaseDate&) { Bad("not in the fake"); }
void XbaseTable::SetInteger(int field, int64_t value) { SetString(field, std::to_string(value)); }
void XbaseTable::SetInteger(const std::string& field, int64_t value) {
  SetString(field, std::to_string(value));
}
void XbaseTable::PackTable() {
  impl_->NeedOpen();
  auto& rows = impl_->data->rows;
  rows.erase(std::remove_if(rows.begin(), rows.end(), [](const Row& r) { return r.deleted; }),
             rows.end());
  impl_->FirstVisible();
  if (impl_->onProgress) {
    impl_->onProgress(0);
    impl_->onProgress(100);
  }
}
std::vector<std::string> XbaseTable::VerifyIndex() { return {}; }
void XbaseTable::SetProgressHandler(std::function<void(int)> handler) {
  impl_->onProgress = std::move(handler);
}
void XbaseTable::SetChangeHandler(std::function<void(XbaseChange)> handler) {
  impl_->onChange = std::move(handler);
}
void XbaseTable::DisableNotifications() { ++impl_->disabled; }
void XbaseTable::EnableNotifications() {
  if (impl_->disabled > 0 && --impl_->disabled == 0 && impl_->pending) {
    impl_->pending = false;
    impl_->Notify(XbaseChange::xcReopened);
  }
}

}  // namespace tv
