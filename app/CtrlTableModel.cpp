#include "app/CtrlTableModel.h"

namespace {

TCtrlField FieldOf(int Column) { return static_cast<TCtrlField>(Column); }

QString CellText(const QVariant &Value, TCtrlFieldKind Kind) {
  if (!Value.isValid())
    return QString();
  return Kind == TCtrlFieldKind::Float ? CtrlFloatText(Value.toDouble()) : Value.toString();
}

} // namespace

TCtrlTableModel::TCtrlTableModel(QObject *Parent) : QAbstractTableModel(Parent) {}

void TCtrlTableModel::SetTable(TCtrlTable Table) {
  beginResetModel();
  FTable = std::move(Table);
  FAdded.assign(FTable.Rows.size(), false);
  endResetModel();
}

void TCtrlTableModel::Load(const QString &FileName) {
  beginResetModel();
  FAdded.clear();
  try {
    FTable.Load(FileName);
  } catch (...) {
    FTable.Rows.clear();
    endResetModel();
    throw;
  }
  FAdded.assign(FTable.Rows.size(), false);
  endResetModel();
}

void TCtrlTableModel::Save(const QString &FileName) {
  DropEmptyNewRows();
  FTable.Save(FileName);
}

int TCtrlTableModel::AddRow() {
  const int Row = rowCount();
  insertRows(Row, 1);
  return Row;
}

void TCtrlTableModel::DropEmptyNewRows() {
  for (int Row = rowCount() - 1; Row >= 0; --Row)
    if (FAdded[Row] && FTable.Rows[Row].IsEmpty())
      removeRows(Row, 1);
}

QString TCtrlTableModel::CheckValue(const QModelIndex &Index, const QVariant &Value) const {
  if (!checkIndex(Index, CheckIndexOption::IndexIsValid))
    return QStringLiteral("No such cell");
  TCtrlRow Scratch = FTable.Rows[Index.row()];
  return SetCtrlValue(Scratch, FieldOf(Index.column()), Value);
}

int TCtrlTableModel::rowCount(const QModelIndex &Parent) const {
  return Parent.isValid() ? 0 : FTable.RowCount();
}

int TCtrlTableModel::columnCount(const QModelIndex &Parent) const {
  return Parent.isValid() ? 0 : CtrlFieldCount;
}

QVariant TCtrlTableModel::data(const QModelIndex &Index, int Role) const {
  if (!checkIndex(Index, CheckIndexOption::IndexIsValid))
    return QVariant();
  const TCtrlField Field = FieldOf(Index.column());
  const TCtrlFieldKind Kind = CtrlFieldInfo(Field).Kind;
  const QVariant Value = FTable.Rows[Index.row()].Value(Field);
  switch (Role) {
  case Qt::DisplayRole:
  case Qt::EditRole:
    return CellText(Value, Kind);
  case ValueRole:
    return Value;
  case Qt::TextAlignmentRole:
    if (Field == TCtrlField::Rotator)
      return int(Qt::AlignCenter);
    if (Kind != TCtrlFieldKind::Text)
      return int(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
  default:
    return QVariant();
  }
}

QVariant TCtrlTableModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation == Qt::Horizontal && Role == Qt::DisplayRole && Section >= 0 &&
      Section < CtrlFieldCount)
    return QString::fromLatin1(CtrlFieldInfo(FieldOf(Section)).Name);
  return QAbstractTableModel::headerData(Section, Orientation, Role);
}

Qt::ItemFlags TCtrlTableModel::flags(const QModelIndex &Index) const {
  if (!checkIndex(Index, CheckIndexOption::IndexIsValid))
    return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemNeverHasChildren;
}

bool TCtrlTableModel::setData(const QModelIndex &Index, const QVariant &Value, int Role) {
  if (Role != Qt::EditRole || !checkIndex(Index, CheckIndexOption::IndexIsValid))
    return false;
  TCtrlRow &Row = FTable.Rows[Index.row()];
  const TCtrlRow Before = Row;
  if (!SetCtrlValue(Row, FieldOf(Index.column()), Value).isEmpty())
    return false;
  if (!(Row == Before))
    emit dataChanged(Index, Index);
  return true;
}

bool TCtrlTableModel::insertRows(int Row, int Count, const QModelIndex &Parent) {
  if (Parent.isValid() || Row < 0 || Row > rowCount() || Count < 1)
    return false;
  beginInsertRows(Parent, Row, Row + Count - 1);
  FTable.Rows.insert(FTable.Rows.begin() + Row, Count, TCtrlRow());
  FAdded.insert(FAdded.begin() + Row, Count, true);
  endInsertRows();
  return true;
}

bool TCtrlTableModel::removeRows(int Row, int Count, const QModelIndex &Parent) {
  if (Parent.isValid() || Row < 0 || Count < 1 || Row + Count > rowCount())
    return false;
  beginRemoveRows(Parent, Row, Row + Count - 1);
  FTable.Rows.erase(FTable.Rows.begin() + Row, FTable.Rows.begin() + Row + Count);
  FAdded.erase(FAdded.begin() + Row, FAdded.begin() + Row + Count);
  endRemoveRows();
  return true;
}

// --- Sorted view --------------------------------------------------------------------

TCtrlTableSortModel::TCtrlTableSortModel(QObject *Parent) : QSortFilterProxyModel(Parent) {
  setDynamicSortFilter(true);
  sort(0, Qt::AscendingOrder);
}

bool TCtrlTableSortModel::lessThan(const QModelIndex &Left, const QModelIndex &Right) const {
  const QAbstractItemModel *Source = sourceModel();
  // Empty before any number; then by value.
  auto Key = [&](const QModelIndex &Cell, TCtrlField Field) {
    const QVariant V =
        Source->index(Cell.row(), static_cast<int>(Field)).data(TCtrlTableModel::ValueRole);
    return std::pair(V.isValid(), V.isValid() ? V.toDouble() : 0.0);
  };
  const auto L = std::tuple(Key(Left, TCtrlField::LowerFreq), Key(Left, TCtrlField::UpperFreq),
                            Left.row());
  const auto R = std::tuple(Key(Right, TCtrlField::LowerFreq), Key(Right, TCtrlField::UpperFreq),
                            Right.row());
  return L < R;
}
