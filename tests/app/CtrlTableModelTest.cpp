// The table editor's models: edits are checked against the field's type and
// width, the sorted view leaves the stored order alone, and saving drops
// only rows that were added and never filled.

#include "app/CtrlTableModel.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

enum Col { Lower, Upper, Rot, Off, Title, Cmd1, Cmd2 };

struct TEdit {
  Col Column;
  QVariant Input;
  bool Accepted;
  QVariant Stored; // the typed value afterwards (when accepted)
};

TEST(CtrlTableModel, EditsAreCheckedAgainstTypeAndWidth) {
  const QString Omega = QString::fromUtf8("\xCE\xA9"); // two bytes of UTF-8
  const TEdit Cases[] = {
      {Lower, "7.1", true, 7.1},
      {Lower, " 14.35 ", true, 14.35},
      {Lower, "-0.5", true, -0.5},
      {Lower, "1e3", true, 1000.0},
      {Lower, "7,1", false, {}},
      {Lower, "abc", false, {}},
      {Lower, "nan", false, {}},
      {Lower, 3.25, true, 3.25},
      {Lower, "", true, {}},
      {Upper, QVariant(), true, {}},
      {Rot, "2", true, 2},
      {Rot, "-3", true, -3},
      {Rot, "1.5", false, {}},
      {Rot, "0x10", false, {}},
      {Rot, "2147483648", false, {}},
      {Rot, 3.0, true, 3},
      {Rot, 3.5, false, {}},
      {Off, " ", true, {}},
      {Title, "12345678", true, "12345678"},
      {Title, "123456789", false, {}},
      {Title, Omega.repeated(4), true, Omega.repeated(4)},
      {Title, Omega.repeated(4) + "x", false, {}},
      {Title, "", true, {}},
      {Cmd1, QString(128, u'x'), true, QString(128, u'x')},
      {Cmd2, QString(129, u'x'), false, {}},
  };
  for (const TEdit &C : Cases) {
    SCOPED_TRACE(testing::Message() << "column " << C.Column << " input "
                                    << C.Input.toString().toStdString());
    TCtrlTableModel Model;
    TCtrlTable Table;
    Table.Rows = {TCtrlRow{1.0, 2.0, 1, 5, "old", "x", "y"}};
    Model.SetTable(Table);
    const QModelIndex Cell = Model.index(0, C.Column);
    const QVariant Before = Cell.data(TCtrlTableModel::ValueRole);
    EXPECT_EQ(Model.CheckValue(Cell, C.Input).isEmpty(), C.Accepted);
    EXPECT_EQ(Model.setData(Cell, C.Input), C.Accepted);
    EXPECT_EQ(Cell.data(TCtrlTableModel::ValueRole), C.Accepted ? C.Stored : Before);
  }
}

TEST(CtrlTableModel, CellsShowTheTextThatEditingReadsBack) {
  TCtrlTableModel Model;
  TCtrlTable Table;
  Table.Rows = {TCtrlRow{7.0, 0.1 + 0.2, 1, -5, std::nullopt, "C1:Y11", std::nullopt}};
  Model.SetTable(Table);
  EXPECT_EQ(Model.headerData(Cmd1, Qt::Horizontal).toString(), "Command1");
  const QStringList Shown = {"7", "0.30000000000000004", "1", "-5", "", "C1:Y11", ""};
  for (int Column = 0; Column < CtrlFieldCount; ++Column) {
    const QModelIndex Cell = Model.index(0, Column);
    EXPECT_EQ(Cell.data().toString(), Shown[Column]);
    ASSERT_TRUE(Model.setData(Cell, Cell.data(Qt::EditRole)));
  }
  EXPECT_EQ(Model.Table(), Table);
}

QList<double> ShownLowerFreqs(const QAbstractItemModel &View) {
  QList<double> Out;
  for (int Row = 0; Row < View.rowCount(); ++Row)
    Out << View.index(Row, Lower).data(TCtrlTableModel::ValueRole).toDouble();
  return Out;
}

TEST(CtrlTableModel, SortedViewLeavesTheStoredOrderAndSavingDropsUnfilledNewRows) {
  QTemporaryDir Dir;
  const QString File = Dir.filePath("CtrlTable.xml");
  TCtrlTable Table;
  Table.Rows = {TCtrlRow{.LowerFreq = 14.0, .UpperFreq = 14.35},
                TCtrlRow{.LowerFreq = 7.0, .UpperFreq = 7.3},
                TCtrlRow{.LowerFreq = 7.0, .UpperFreq = 7.1}, TCtrlRow{.Rotator = 3}};
  Table.Save(File);

  TCtrlTableModel Model;
  Model.Load(File);
  TCtrlTableSortModel View;
  View.setSourceModel(&Model);
  // Empty bounds first, then by LowerFreq and UpperFreq.
  EXPECT_EQ(ShownLowerFreqs(View), (QList<double>{0, 7, 7, 14}));
  EXPECT_EQ(View.index(1, Upper).data(TCtrlTableModel::ValueRole).toDouble(), 7.1);

  // Added rows go to the end of the stored order; an edit moves the row in
  // the view only.
  const int Added = Model.AddRow();
  const int Unfilled = Model.AddRow();
  EXPECT_EQ(Added, 4);
  EXPECT_EQ(Unfilled, 5);
  ASSERT_TRUE(Model.setData(Model.index(Added, Lower), "10"));
  EXPECT_EQ(ShownLowerFreqs(View), (QList<double>{0, 0, 7, 7, 10, 14}));

  // Removing a new row right after adding it deletes nothing else.
  const int Removed = Model.AddRow();
  ASSERT_TRUE(Model.removeRows(Removed, 1));
  EXPECT_EQ(Model.rowCount(), 6);

  Model.Save(File);
  TCtrlTable Saved;
  Saved.Load(File);
  Table.Rows.push_back(TCtrlRow{.LowerFreq = 10.0});
  EXPECT_EQ(Saved, Table);
  EXPECT_EQ(Model.Table(), Table);
}

TEST(CtrlTableModel, RefusedFileLeavesTheModelEmpty) {
  QTemporaryDir Dir;
  const QString File = Dir.filePath("CtrlTable.xml");
  QFile Out(File);
  ASSERT_TRUE(Out.open(QIODevice::WriteOnly));
  Out.write("<DATAPACKET/>");
  Out.close();
  TCtrlTableModel Model;
  TCtrlTable Table;
  Table.Rows = {TCtrlRow{.LowerFreq = 1.0, .UpperFreq = 2.0}};
  Model.SetTable(Table);
  EXPECT_THROW(Model.Load(File), TCtrlTableError);
  EXPECT_EQ(Model.rowCount(), 0);
}

} // namespace
