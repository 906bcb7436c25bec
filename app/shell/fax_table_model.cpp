#include "app/shell/fax_table_model.h"

#include <QDate>

#include "platform/core/exceptions.h"

namespace tv {

namespace {
constexpr int kCacheRows = 512;
}

TFaxTableModel::TFaxTableModel(XbaseTable& table, const TTableSchema& schema, QObject* parent)
    : QAbstractTableModel(parent), table_(table), columns_(schema.columns) {
  for (const TGridColumn& column : columns_) {
    char type = 'C';
    for (const XbaseField& field : schema.fields) {
      if (field.name == column.field) type = field.type;
    }
    types_.push_back(type);
  }
  table_.SetChangeHandler([this](XbaseChange change) { OnTableChange(change); });
}

TFaxTableModel::~TFaxTableModel() { table_.SetChangeHandler({}); }

void TFaxTableModel::OnTableChange(XbaseChange change) {
  if (reading_) return;
  if (change == XbaseChange::xcRowMoved) {
    emit CurrentRowChanged();
    return;
  }
  Reload();
  emit CurrentRowChanged();
}

void TFaxTableModel::Reload() {
  beginResetModel();
  cache_.clear();
  count_ = -1;
  endResetModel();
}

int TFaxTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  if (count_ < 0) {
    try {
      count_ = table_.IsOpen() ? table_.VisibleCount() : 0;
    } catch (const ETvException&) {
      count_ = 0;
    }
  }
  return count_;
}

int TFaxTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QStringList TFaxTableModel::ReadRow(int position) const {
  QStringList values;
  if (!table_.IsOpen()) return values;
  reading_ = true;
  const int current = table_.RecordNumber();
  try {
    table_.GoToPosition(position);
    for (const TGridColumn& column : columns_) {
      const int field = table_.FieldIndex(column.field);
      if (field < 0) {
        values << QString();
        continue;
      }
      const XbaseField& f = table_.Field(field);
      if (f.type == 'D') {
        const XbaseDate d = table_.AsDateParts(field);
        values << (d.IsBlank() ? QString()
                               : QDate(d.year, d.month, d.day).toString(kDateFormat));
      } else if (f.type == 'N') {
        values << (table_.IsBlank(field) ? QString()
                                         : QString::number(table_.AsInteger(field)));
      } else {
        values << QString::fromStdString(table_.AsString(field));
      }
    }
  } catch (const ETvException&) {
    values.clear();
  }
  // Back to the row that was current (the grid's current row).
  try {
    if (current >= 1 && current <= table_.RecordCount()) table_.GoToRecord(current);
  } catch (const ETvException&) {
  }
  reading_ = false;
  return values;
}

QVariant TFaxTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  auto it = cache_.find(index.row());
  if (it == cache_.end()) {
    if (cache_.size() >= kCacheRows) cache_.clear();
    it = cache_.insert(index.row(), ReadRow(index.row()));
  }
  return index.column() < it->size() ? QVariant(it->at(index.column())) : QVariant();
}

QVariant TFaxTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return {};
  if (section < 0 || section >= static_cast<int>(columns_.size())) return {};
  return QString::fromUtf8(columns_[static_cast<size_t>(section)].label);
}

bool TFaxTableModel::IsEmpty() const {
  try {
    return !table_.IsOpen() || table_.RecordNumber() == table_.RecordCount() + 1;
  } catch (const ETvException&) {
    return true;
  }
}

int TFaxTableModel::CurrentPosition() const {
  try {
    if (IsEmpty()) return -1;
    return table_.PositionOf(table_.RecordNumber());
  } catch (const ETvException&) {
    return -1;
  }
}

void TFaxTableModel::SetCurrentPosition(int position) {
  if (position < 0 || position == CurrentPosition()) return;
  try {
    table_.GoToPosition(position);
  } catch (const ETvException&) {
  }
}

}  // namespace tv
