// A Qt model over one table of the fax store, for the grids of the main
// window. It shows the table's visible rows (current order and filter) with
// the columns of the table's schema. Rows are read on demand through the
// engine's positional access and kept in a small cache, so that showing a
// screen reads only the rows on it. The table's current row is the grid's
// current row: the model reports its moves and follows the grid's.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>
#include <vector>

#include "app/store/fax_tables.h"

namespace tv {

class TFaxTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  TFaxTableModel(XbaseTable& table, const TTableSchema& schema, QObject* parent = nullptr);
  ~TFaxTableModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  const std::vector<TGridColumn>& Columns() const { return columns_; }
  // The field type of a column ('C', 'D', 'N', 'L').
  char ColumnType(int column) const { return types_.at(static_cast<size_t>(column)); }
  // How dates are shown: year, month, day ("2026-12-10").
  static constexpr const char* kDateFormat = "yyyy-MM-dd";
  XbaseTable& Table() const { return table_; }

  // True when the view has no current row (RecordNumber = RecordCount + 1);
  // a closed table is empty too.
  bool IsEmpty() const;
  // The position of the current row in the view, -1 when none.
  int CurrentPosition() const;
  // Makes the row at a position current (the grid's selection moved).
  void SetCurrentPosition(int position);

  // Forgets the cached rows and counts (after the table was changed behind
  // the model's back, e.g. closed and opened again).
  void Reload();

 signals:
  // The table's current row moved or its values changed.
  void CurrentRowChanged();

 private:
  QStringList ReadRow(int position) const;
  void OnTableChange(XbaseChange change);

  XbaseTable& table_;
  std::vector<TGridColumn> columns_;
  std::vector<char> types_;
  mutable QHash<int, QStringList> cache_;
  mutable int count_ = -1;
  // Set while the model moves the table to read rows for painting.
  mutable bool reading_ = false;
};

}  // namespace tv
