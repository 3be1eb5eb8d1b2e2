#pragma once
// Item models over a control table for the table editor: TCtrlTableModel
// holds the table in stored order and checks every edit against the field's
// type and width; TCtrlTableSortModel shows it sorted by LowerFreq and then
// UpperFreq without changing the stored order.

#include "ctrltable/CtrlTable.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <vector>

class TCtrlTableModel : public QAbstractTableModel {
  Q_OBJECT
public:
  // The typed value of a cell: double, int or QString; invalid when empty.
  // The display and edit roles give the text form ("" when empty), which
  // setData reads back.
  static constexpr int ValueRole = Qt::UserRole;

  explicit TCtrlTableModel(QObject *Parent = nullptr);

  const TCtrlTable &Table() const { return FTable; }
  // Replaces the whole table; no row counts as added.
  void SetTable(TCtrlTable Table);

  // Replaces the table by the file's (empty when the file does not exist).
  // Throws TCtrlTableError; the table is then empty.
  void Load(const QString &FileName);
  // Drops the rows added and left without any value, then writes the table.
  // Throws TCtrlTableError when the file can't be written.
  void Save(const QString &FileName);

  // Appends an empty row at the end of the stored order and returns its row.
  int AddRow();
  // Removes the rows added since SetTable or Load that still hold no value.
  void DropEmptyNewRows();

  // Why Value can't be stored in the cell; empty when it can.
  QString CheckValue(const QModelIndex &Index, const QVariant &Value) const;

  int rowCount(const QModelIndex &Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &Index, int Role = Qt::DisplayRole) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation,
                      int Role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex &Index) const override;
  // Edit role only. A value that does not fit the field is refused (false)
  // and the cell keeps its value.
  bool setData(const QModelIndex &Index, const QVariant &Value, int Role = Qt::EditRole) override;
  // New rows are empty and count as added.
  bool insertRows(int Row, int Count, const QModelIndex &Parent = QModelIndex()) override;
  bool removeRows(int Row, int Count, const QModelIndex &Parent = QModelIndex()) override;

private:
  TCtrlTable FTable;
  // Parallel to the rows: added since SetTable or Load.
  std::vector<bool> FAdded;
};

// Sorted view for display: LowerFreq, then UpperFreq, empty bounds first,
// rows with equal bounds in stored order. The order does not depend on the
// sort column; it follows edits as they happen.
class TCtrlTableSortModel : public QSortFilterProxyModel {
  Q_OBJECT
public:
  explicit TCtrlTableSortModel(QObject *Parent = nullptr);

protected:
  bool lessThan(const QModelIndex &Left, const QModelIndex &Right) const override;
};
