#include "app/Options.h"

#include "base/UiServices.h"
#include "serial/PortList.h"
#include "settings/ValueText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QAbstractItemView>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <stdexcept>

namespace {

const QStringList DesignPorts = {QStringLiteral("Com1"), QStringLiteral("Com2"),
                                 QStringLiteral("Com3"), QStringLiteral("Com4"),
                                 QStringLiteral("Com5")};

// Accepts a text that fits Width, in the unit the table's text fields are
// measured in (CtrlTextWidth), and refuses typing beyond it. A stored text
// that is already wider stays editable while it gets narrower, so that it
// can be shortened; the table takes it once it fits.
class TByteWidthValidator : public QValidator {
public:
  // Stored: the text the editor starts with.
  TByteWidthValidator(int Width, const QString &Stored, QObject *Parent)
      : QValidator(Parent), FWidth(Width),
        FWiderSeen(std::max(Width, CtrlTextWidth(Stored)) + 1) {}
  State validate(QString &Input, int &) const override {
    const int Width = CtrlTextWidth(Input);
    if (Width <= FWidth) {
      FWiderSeen = FWidth + 1;
      return Acceptable;
    }
    if (Width >= FWiderSeen)
      return Invalid;
    FWiderSeen = Width;
    return Intermediate;
  }

private:
  int FWidth;
  // The narrowest width above Width the editor may hold now.
  mutable int FWiderSeen;
};

QPushButton *MakeButton(const char *Name, const QString &Caption, QWidget *Parent) {
  auto *Button = new QPushButton(Caption, Parent);
  Button->setObjectName(QLatin1String(Name));
  // Enter in an edit or a grid cell must not press a button.
  Button->setAutoDefault(false);
  Button->setDefault(false);
  return Button;
}

QLineEdit *MakeEdit(const char *Name, QWidget *Parent) {
  auto *Edit = new QLineEdit(Parent);
  Edit->setObjectName(QLatin1String(Name));
  return Edit;
}

QCheckBox *MakeCheckBox(const char *Name, const QString &Caption, QWidget *Parent) {
  auto *Box = new QCheckBox(Caption, Parent);
  Box->setObjectName(QLatin1String(Name));
  return Box;
}

// A drop-down list without free text entry.
QComboBox *MakeList(const char *Name, const QStringList &Entries, QWidget *Parent) {
  auto *List = new QComboBox(Parent);
  List->setObjectName(QLatin1String(Name));
  List->setEditable(false);
  List->addItems(Entries);
  List->setCurrentIndex(-1);
  return List;
}

QLabel *MakeLabel(const QString &Caption, QWidget *Buddy) {
  auto *Label = new QLabel(Caption, Buddy->parentWidget());
  Label->setBuddy(Buddy);
  return Label;
}

// The first entry that equals Text exactly; -1 when none does.
int FindEntry(const QComboBox *List, const QString &Text) {
  for (int I = 0; I < List->count(); ++I)
    if (List->itemText(I) == Text)
      return I;
  return -1;
}

} // namespace

// Editors of the grid's cells: a line edit that takes only what can make a
// number in the number columns and no more bytes than the field's width in
// the text columns. A value the table refuses is reported and the cell keeps
// its value.
class TCtrlCellDelegate : public QStyledItemDelegate {
public:
  TCtrlCellDelegate(TCtrlTableModel *Table, TCtrlTableSortModel *View, QObject *Parent)
      : QStyledItemDelegate(Parent), FTable(Table), FView(View) {}

  QWidget *createEditor(QWidget *Parent, const QStyleOptionViewItem &,
                        const QModelIndex &Index) const override {
    auto *Editor = new QLineEdit(Parent);
    Editor->setFrame(false);
    const TCtrlFieldInfo &Info = CtrlFieldInfo(static_cast<TCtrlField>(Index.column()));
    switch (Info.Kind) {
    case TCtrlFieldKind::Float:
      Editor->setValidator(new QRegularExpressionValidator(
          QRegularExpression(QStringLiteral("-?[0-9]*(\\.[0-9]*)?([eE][-+]?[0-9]*)?")), Editor));
      break;
    case TCtrlFieldKind::Integer:
      Editor->setValidator(
          new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]*")), Editor));
      break;
    case TCtrlFieldKind::Text:
      Editor->setValidator(
          new TByteWidthValidator(Info.Width, Index.data(Qt::EditRole).toString(), Editor));
      break;
    }
    const QVariant Align = Index.data(Qt::TextAlignmentRole);
    if (Align.isValid())
      Editor->setAlignment(Qt::Alignment(Align.toInt()));
    FEditor = Editor;
    return Editor;
  }

  void setEditorData(QWidget *Editor, const QModelIndex &Index) const override {
    static_cast<QLineEdit *>(Editor)->setText(Index.data(Qt::EditRole).toString());
  }

  void setModelData(QWidget *Editor, QAbstractItemModel *Model,
                    const QModelIndex &Index) const override {
    const QString Text = static_cast<QLineEdit *>(Editor)->text();
    const QString Reason = FTable->CheckValue(FView->mapToSource(Index), Text);
    if (!Reason.isEmpty()) {
      Ui().ShowError(Reason);
      return;
    }
    Model->setData(Index, Text, Qt::EditRole);
  }

  void destroyEditor(QWidget *Editor, const QModelIndex &Index) const override {
    if (FEditor == Editor)
      FEditor = nullptr;
    QStyledItemDelegate::destroyEditor(Editor, Index);
  }

  // Closes the open editor, storing its text first when Commit is set.
  void Finish(bool Commit) {
    if (!FEditor)
      return;
    QWidget *Editor = FEditor;
    FEditor = nullptr;
    if (Commit)
      emit commitData(Editor);
    emit closeEditor(Editor, QAbstractItemDelegate::NoHint);
  }

private:
  TCtrlTableModel *FTable;
  TCtrlTableSortModel *FView;
  mutable QPointer<QWidget> FEditor;
};

// --- Building the dialog ------------------------------------------------------------

TOptions::TOptions(const QString &CtlTableName, QWidget *Parent)
    : QDialog(Parent), FCtlTableName(CtlTableName) {
  setObjectName(QStringLiteral("Options"));
  setWindowTitle(QStringLiteral("Options"));
  // Fixed dialog border without caption-bar buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  PageControl1->addTab(TabSheet1, QStringLiteral("Rotator"));
  PageControl1->addTab(TabSheet2, QStringLiteral("Table"));
  auto *Layout = new QVBoxLayout(this);
  Layout->addWidget(PageControl1);
  Layout->setSizeConstraint(QLayout::SetFixedSize);

  BuildRotatorTab();
  BuildTableTab();
  ConnectHandlers();

  try {
    ClientDataSet1->Load(FCtlTableName);
  } catch (const std::exception &E) {
    FTableProblem = QString::fromUtf8(E.what());
    for (QWidget *Control : {static_cast<QWidget *>(DBGrid1), static_cast<QWidget *>(btnAdd),
                             static_cast<QWidget *>(btnDelete)})
      Control->setEnabled(false);
    DBGrid1->setToolTip(FTableProblem);
  }
  if (DataSource1->rowCount() > 0)
    DBGrid1->setCurrentIndex(DataSource1->index(0, 0));
  ReadPortList();
}

TOptions::~TOptions() = default;

void TOptions::BuildRotatorTab() {
  QWidget *Tab = TabSheet1;

  edtTitle = MakeEdit("edtTitle", Tab);
  edtMapFileName = MakeEdit("edtMapFileName", Tab);
  edtMapFileName->setMinimumWidth(220);
  btnFileSelect = MakeButton("btnFileSelect", QStringLiteral("・・・"), Tab);
  btnFileSelect->setFixedWidth(btnFileSelect->fontMetrics().horizontalAdvance(
                                   QStringLiteral("・・・")) + 16);
  btnCancel = MakeButton("btnCancel", QStringLiteral("Cancel"), Tab);
  btnApply = MakeButton("btnApply", QStringLiteral("Apply"), Tab);

  auto *Top = new QHBoxLayout;
  Top->addWidget(MakeLabel(QStringLiteral("Title"), edtTitle));
  Top->addWidget(edtTitle);
  Top->addSpacing(8);
  Top->addWidget(MakeLabel(QStringLiteral("Map file"), edtMapFileName));
  Top->addWidget(edtMapFileName, 1);
  Top->addWidget(btnFileSelect);
  Top->addSpacing(8);
  Top->addWidget(btnCancel);
  Top->addWidget(btnApply);

  cbxEnable = MakeCheckBox("cbxEnable", QStringLiteral("Enable"), Tab);
  cbxAutoActive = MakeCheckBox("cbxAutoActive", QStringLiteral("Automatic Open on Startup"), Tab);
  auto *Flags = new QHBoxLayout;
  Flags->addWidget(cbxEnable);
  Flags->addSpacing(16);
  Flags->addWidget(cbxAutoActive);
  Flags->addStretch(1);

  auto *RotatorBox = new QGroupBox(QStringLiteral("Rotator"), Tab);
  RotatorBox->setObjectName(QStringLiteral("GroupBox1"));
  cmbModel = MakeList("cmbModel",
                      {QStringLiteral("GS-232A"), QStringLiteral("GS-232B"),
                       QStringLiteral("KELVANE")},
                      RotatorBox);
  cmbCenterPosition =
      MakeList("cmbCenterPosition", {QStringLiteral("North"), QStringLiteral("South")}, RotatorBox);
  cmbAzimuthAngle =
      MakeList("cmbAzimuthAngle", {QStringLiteral("360°"), QStringLiteral("450°")}, RotatorBox);
  cmbRotationSpeed = MakeList("cmbRotationSpeed",
                              {QStringLiteral("Low"), QStringLiteral("Middle1"),
                               QStringLiteral("Middle2"), QStringLiteral("High")},
                              RotatorBox);
  edtHomePosition = MakeEdit("edtHomePosition", RotatorBox);
  edtHomePosition->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  btnGetHome = MakeButton("btnGetHome", QStringLiteral("Get Home"), RotatorBox);
  btnGetHome->setToolTip(QStringLiteral("Set Home position to Current position"));
  cbxReturnHome =
      MakeCheckBox("cbxReturnHome", QStringLiteral("Return Home Position on Close"), RotatorBox);
  edtOffsetAngle = MakeEdit("edtOffsetAngle", RotatorBox);
  edtOffsetAngle->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edtCommandB = MakeEdit("edtCommandB", RotatorBox);
  edtCommandA = MakeEdit("edtCommandA", RotatorBox);
  cmbRelaysCount = MakeList(
      "cmbRelaysCount", {QStringLiteral("0"), QStringLiteral("4"), QStringLiteral("8")},
      RotatorBox);

  auto *RotatorGrid = new QGridLayout;
  int Row = 0;
  auto AddRow = [&](const QString &Caption, QWidget *Control, QWidget *Extra = nullptr) {
    RotatorGrid->addWidget(MakeLabel(Caption, Control), Row, 0);
    RotatorGrid->addWidget(Control, Row, 1);
    if (Extra)
      RotatorGrid->addWidget(Extra, Row, 2);
    ++Row;
  };
  AddRow(QStringLiteral("Model"), cmbModel);
  AddRow(QStringLiteral("Center Position"), cmbCenterPosition);
  AddRow(QStringLiteral("Azimuth Angle"), cmbAzimuthAngle);
  AddRow(QStringLiteral("Rotation Speed"), cmbRotationSpeed);
  AddRow(QStringLiteral("Home Position"), edtHomePosition, btnGetHome);
  RotatorGrid->addWidget(cbxReturnHome, Row++, 1, 1, 2);
  AddRow(QStringLiteral("Offset Angle"), edtOffsetAngle);
  AddRow(QStringLiteral("Command on before"), edtCommandB);
  AddRow(QStringLiteral("Command on after"), edtCommandA);
  AddRow(QStringLiteral("Relays Count"), cmbRelaysCount);
  RotatorGrid->setRowStretch(Row, 1);

  auto *PortBox = new QGroupBox(QStringLiteral(" Com Port "), RotatorBox);
  PortBox->setObjectName(QStringLiteral("GroupBox2"));
  cmbPort = MakeList("cmbPort", DesignPorts, PortBox);
  // Any device path may be typed (the emulator's pseudo-terminal, a link of
  // one's own); the list offers the ports found. Long stable names do not
  // widen the dialog: the field keeps its width and shows the whole name in
  // its tooltip, the open list is as wide as its longest name.
  cmbPort->setEditable(true);
  cmbPort->setInsertPolicy(QComboBox::NoInsert);
  cmbPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cmbPort->setMinimumContentsLength(18);
  cmbBaudRate = MakeList("cmbBaudRate",
                         {QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"),
                          QStringLiteral("38400")},
                         PortBox);
  cmbDataBits = MakeList(
      "cmbDataBits",
      {QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")},
      PortBox);
  cmbParity = MakeList("cmbParity",
                       {QStringLiteral("NONE"), QStringLiteral("ODD"), QStringLiteral("EVEN"),
                        QString(), QString()},
                       PortBox);
  cmbStopBits = MakeList(
      "cmbStopBits", {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")}, PortBox);
  cmbFlowControl = MakeList("cmbFlowControl",
                            {QStringLiteral("HARDWARE"), QStringLiteral("SOFTWARE"),
                             QStringLiteral("NONE"), QStringLiteral("CUSTOM")},
                            PortBox);
  auto *PortGrid = new QGridLayout(PortBox);
  int PortRow = 0;
  for (const auto &[Caption, List] :
       {std::pair{QStringLiteral("Port"), cmbPort}, std::pair{QStringLiteral("Baud Rate"), cmbBaudRate},
        std::pair{QStringLiteral("Data Bits"), cmbDataBits},
        std::pair{QStringLiteral("Parity"), cmbParity},
        std::pair{QStringLiteral("Stop Bits"), cmbStopBits},
        std::pair{QStringLiteral("Flow Control"), cmbFlowControl}}) {
    PortGrid->addWidget(MakeLabel(Caption, List), PortRow, 0);
    PortGrid->addWidget(List, PortRow, 1);
    ++PortRow;
  }
  PortGrid->setRowStretch(PortRow, 1);

  auto *BoxLayout = new QHBoxLayout(RotatorBox);
  BoxLayout->addLayout(RotatorGrid, 1);
  BoxLayout->addWidget(PortBox);

  auto *TabLayout = new QVBoxLayout(Tab);
  TabLayout->addLayout(Top);
  TabLayout->addLayout(Flags);
  TabLayout->addWidget(RotatorBox, 1);
}

void TOptions::BuildTableTab() {
  QWidget *Tab = TabSheet2;
  cbxCtrlTable = MakeCheckBox("cbxCtrlTable", QStringLiteral("Enable"), Tab);
  btnAdd = MakeButton("btnAdd", QStringLiteral("Add"), Tab);
  btnDelete = MakeButton("btnDelete", QStringLiteral("Deleet"), Tab);
  btnCancel2 = MakeButton("btnCancel2", QStringLiteral("Cancel"), Tab);
  btnApply2 = MakeButton("btnApply2", QStringLiteral("Apply"), Tab);

  auto *Top = new QHBoxLayout;
  Top->addWidget(cbxCtrlTable);
  Top->addStretch(1);
  Top->addWidget(btnAdd);
  Top->addWidget(btnDelete);
  Top->addSpacing(16);
  Top->addWidget(btnCancel2);
  Top->addWidget(btnApply2);

  ClientDataSet1 = new TCtrlTableModel(this);
  ClientDataSet1->setObjectName(QStringLiteral("ClientDataSet1"));
  DataSource1 = new TCtrlTableSortModel(this);
  DataSource1->setObjectName(QStringLiteral("DataSource1"));
  DataSource1->setSourceModel(ClientDataSet1);

  DBGrid1 = new QTableView(Tab);
  DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  DBGrid1->setModel(DataSource1);
  FCellDelegate = new TCtrlCellDelegate(ClientDataSet1, DataSource1, DBGrid1);
  DBGrid1->setItemDelegate(FCellDelegate);
  DBGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
  DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  DBGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
  DBGrid1->setSortingEnabled(false);
  DBGrid1->horizontalHeader()->setSectionsClickable(false);
  DBGrid1->verticalHeader()->setDefaultSectionSize(DBGrid1->fontMetrics().height() + 6);
  // Row numbers would be those of the stored order, not of the sorted rows.
  DBGrid1->verticalHeader()->hide();

  // Column widths in characters of the grid's font; the others keep the
  // default width.
  const int Digit = DBGrid1->fontMetrics().horizontalAdvance(QLatin1Char('0'));
  const int Margin = 12;
  DBGrid1->setColumnWidth(int(TCtrlField::Rotator), 5 * Digit + Margin);
  DBGrid1->setColumnWidth(int(TCtrlField::Offset), 5 * Digit + Margin);
  DBGrid1->setColumnWidth(int(TCtrlField::Command1), 20 * Digit + Margin);
  DBGrid1->setColumnWidth(int(TCtrlField::Command2), 20 * Digit + Margin);

  auto *TabLayout = new QVBoxLayout(Tab);
  TabLayout->addLayout(Top);
  TabLayout->addWidget(DBGrid1, 1);
}

void TOptions::ConnectHandlers() {
  // Operator input goes back into the properties as it happens.
  auto Text = [this](QLineEdit *Edit, QString &Field) {
    connect(Edit, &QLineEdit::textEdited, this, [&Field](const QString &Value) { Field = Value; });
  };
  Text(edtTitle, FTitle);
  Text(edtMapFileName, FMapFileName);
  Text(edtCommandB, FCommandB);
  Text(edtCommandA, FCommandA);
  connect(edtHomePosition, &QLineEdit::textEdited, this,
          [this] { Guarded([this] { edtHomePositionChange(); }); });
  connect(edtOffsetAngle, &QLineEdit::textEdited, this,
          [this] { Guarded([this] { edtOffsetAngleChange(); }); });

  auto Tick = [this](QCheckBox *Box, bool &Field) {
    connect(Box, &QCheckBox::clicked, this, [&Field](bool Checked) { Field = Checked; });
  };
  Tick(cbxEnable, FEnable);
  Tick(cbxAutoActive, FAutoActive);
  Tick(cbxReturnHome, FReturnHome);
  Tick(cbxCtrlTable, FCtrlTableEnable);

  auto PickText = [this](QComboBox *List, QString &Field) {
    connect(List, &QComboBox::activated, this,
            [List, &Field](int Index) { Field = List->itemText(Index); });
  };
  PickText(cmbModel, FModel);
  connect(cmbPort, &QComboBox::currentTextChanged, this, [this](const QString &Text) {
    FPort = Text.trimmed();
    cmbPort->setToolTip(FPort);
  });
  PickText(cmbBaudRate, FBaudRate);
  PickText(cmbDataBits, FDataBits);
  PickText(cmbParity, FParity);
  PickText(cmbStopBits, FStopBits);
  PickText(cmbFlowControl, FFlowControl);
  connect(cmbRotationSpeed, &QComboBox::activated, this,
          [this](int Index) { FRotationSpeed = QString::number(Index + 1); });
  connect(cmbCenterPosition, &QComboBox::activated, this,
          [this](int Index) { FCenterPosition = Index; });
  connect(cmbAzimuthAngle, &QComboBox::activated, this,
          [this](int Index) { FAzimuthAngle = Index; });
  connect(cmbRelaysCount, &QComboBox::activated, this,
          [this](int Index) { FRelaysCount = cmbRelaysCount->itemText(Index).toInt(); });

  auto Click = [this](QPushButton *Button, void (TOptions::*Handler)()) {
    connect(Button, &QPushButton::clicked, this,
            [this, Handler] { Guarded([this, Handler] { (this->*Handler)(); }); });
  };
  Click(btnApply, &TOptions::btnApplyClick);
  Click(btnApply2, &TOptions::btnApplyClick);
  Click(btnCancel, &TOptions::btnCancelClick);
  Click(btnCancel2, &TOptions::btnCancelClick);
  Click(btnFileSelect, &TOptions::btnFileSelectClick);
  Click(btnGetHome, &TOptions::btnGetHomeClick);
  Click(btnAdd, &TOptions::btnAddClick);
  Click(btnDelete, &TOptions::btnDeleteClick);
}

void TOptions::showEvent(QShowEvent *Event) {
  QDialog::showEvent(Event);
  // Opens centred on the desktop, not over the owner.
  if (FCentred)
    return;
  FCentred = true;
  if (const QScreen *Screen = screen() ? screen() : QGuiApplication::primaryScreen()) {
    const QRect Area = Screen->availableGeometry();
    const QSize Outer = frameGeometry().size().expandedTo(size());
    move(Area.x() + (Area.width() - Outer.width()) / 2,
         Area.y() + (Area.height() - Outer.height()) / 2);
  }
}

// --- Port list ------------------------------------------------------------------------

QStringList TOptions::AvailablePorts() { return AvailableSerialPorts(); }

void TOptions::FillPortList(const QStringList &Ports) {
  // A port already set stays selected (and in the list).
  const QString Stored = FPort;
  {
    const QSignalBlocker Quiet(cmbPort);
    cmbPort->clear();
    cmbPort->addItems(Ports.isEmpty() ? DesignPorts : Ports);
    cmbPort->view()->setMinimumWidth(cmbPort->view()->sizeHintForColumn(0) + 24);
    cmbPort->setCurrentIndex(-1);
  }
  FPort.clear();
  SetPort(Stored);
}

void TOptions::ReadPortList() { FillPortList(AvailablePorts()); }

// --- Properties ---------------------------------------------------------------------

void TOptions::SetTitle(const QString &Value) {
  FTitle = Value.trimmed();
  edtTitle->setText(FTitle);
}

void TOptions::SetMapFileName(const QString &Value) {
  FMapFileName = Value.trimmed();
  edtMapFileName->setText(FMapFileName);
}

void TOptions::SetCommandB(const QString &Value) {
  FCommandB = Value.trimmed();
  edtCommandB->setText(FCommandB);
}

void TOptions::SetCommandA(const QString &Value) {
  FCommandA = Value.trimmed();
  edtCommandA->setText(FCommandA);
}

void TOptions::SetEnable(bool Value) {
  FEnable = Value;
  cbxEnable->setChecked(Value);
}

void TOptions::SetAutoActive(bool Value) {
  FAutoActive = Value;
  cbxAutoActive->setChecked(Value);
}

void TOptions::SetReturnHome(bool Value) {
  FReturnHome = Value;
  cbxReturnHome->setChecked(Value);
}

void TOptions::SetCtrlTableEnable(bool Value) {
  FCtrlTableEnable = Value;
  cbxCtrlTable->setChecked(Value);
}

void TOptions::SelectByText(QComboBox *List, const QString &Value, QString &Field,
                            const QString &Name) {
  const QString Text = Value.trimmed().toUpper();
  List->setCurrentIndex(-1);
  const int Index = FindEntry(List, Text);
  if (Index < 0) {
    // A value the list does not offer (a rate or parity the port knows, a
    // model from an edited file) stays as it was stored until the operator
    // picks an entry: confirming the dialog for another change must not
    // replace it.
    Field = Value;
    Ui().ShowError(Name + QStringLiteral(" can not be found"));
    return;
  }
  List->setCurrentIndex(Index);
  Field = Text;
}

void TOptions::SetModel(const QString &Value) {
  SelectByText(cmbModel, Value, FModel, QStringLiteral("Model"));
}

void TOptions::SetBaudRate(const QString &Value) {
  SelectByText(cmbBaudRate, Value, FBaudRate, QStringLiteral("BaudRate"));
}

void TOptions::SetDataBits(const QString &Value) {
  SelectByText(cmbDataBits, Value, FDataBits, QStringLiteral("DataBits"));
}

void TOptions::SetParity(const QString &Value) {
  SelectByText(cmbParity, Value, FParity, QStringLiteral("Parity"));
}

void TOptions::SetStopBits(const QString &Value) {
  SelectByText(cmbStopBits, Value, FStopBits, QStringLiteral("StopBits"));
}

void TOptions::SetFlowControl(const QString &Value) {
  SelectByText(cmbFlowControl, Value, FFlowControl, QStringLiteral("FlowControl"));
}

void TOptions::SetPort(const QString &Value) {
  const QString Name = Value.trimmed();
  if (Name.isEmpty()) {
    cmbPort->setCurrentIndex(FindEntry(cmbPort, FPort));
    return;
  }
  int Index = FindEntry(cmbPort, Name);
  if (Index < 0) {
    // Not a port of this computer right now; offer it anyway, so that
    // applying without a pick keeps it.
    cmbPort->addItem(Name);
    Index = cmbPort->count() - 1;
  }
  cmbPort->setCurrentIndex(Index);
  FPort = Name;
}

void TOptions::SetRotationSpeed(const QString &Value) {
  int Speed = -1;
  try {
    Speed = TextToInteger(QStringLiteral("0") + Value.trimmed());
  } catch (const TConvertError &) {
  }
  if (Speed < 0 || Speed > cmbRotationSpeed->count()) {
    // Kept as stored, like the values the other lists do not offer.
    cmbRotationSpeed->setCurrentIndex(-1);
    FRotationSpeed = Value;
    Ui().ShowError(QStringLiteral("Rotation speed \"%1\" can not be used").arg(Value));
    return;
  }
  cmbRotationSpeed->setCurrentIndex(Speed - 1);
  FRotationSpeed = QString::number(Speed);
}

void TOptions::SetCenterPosition(int Value) {
  cmbCenterPosition->setCurrentIndex(Value >= 0 && Value < cmbCenterPosition->count() ? Value : -1);
  FCenterPosition = Value;
}

void TOptions::SetAzimuthAngle(int Value) {
  cmbAzimuthAngle->setCurrentIndex(Value >= 0 && Value < cmbAzimuthAngle->count() ? Value : -1);
  FAzimuthAngle = Value;
}

void TOptions::SetRelaysCount(int Value) {
  // A count the list does not offer (from an edited file) is kept, with no
  // entry shown, until the operator picks one.
  cmbRelaysCount->setCurrentIndex(FindEntry(cmbRelaysCount, QString::number(Value)));
  FRelaysCount = Value;
}

void TOptions::SetHomePosition(int Value) {
  FHomePosition = Value;
  edtHomePosition->setText(QString::number(Value));
}

void TOptions::SetOffsetAngle(int Value) {
  FOffsetAngle = Value;
  edtOffsetAngle->setText(QString::number(Value));
}

// --- Operator input -------------------------------------------------------------------

void TOptions::edtHomePositionChange() {
  FHomePosition = TextToInteger(QStringLiteral("0") + edtHomePosition->text().trimmed());
}

void TOptions::edtOffsetAngleChange() {
  const QString Text = edtOffsetAngle->text();
  if (Text.isEmpty() || Text == QStringLiteral("-")) {
    FOffsetAngle = 0;
    return;
  }
  FOffsetAngle = TextToInteger(Text.trimmed());
}

void TOptions::btnFileSelectClick() {
  edtMapFileName->setText(FMapFileName);
  const std::optional<QString> Picked = Ui().OpenFile(
      QStringLiteral("Select Map File"), QStringLiteral("Pictures (*.bmp *.png *.jpg *.jpeg);;Bmp file(*.Bmp)"), FMapFileName);
  if (Picked)
    SetMapFileName(*Picked);
}

void TOptions::btnGetHomeClick() { SetHomePosition(FCurrentPosition); }

void TOptions::btnApplyClick() {
  FinishCellEdit();
  try {
    if (FTableProblem.isEmpty())
      ClientDataSet1->Save(FCtlTableName);
  } catch (const std::exception &E) {
    // The rotator settings are applied all the same.
    Ui().ShowError(QString::fromUtf8(E.what()));
  }
  accept();
}

void TOptions::btnCancelClick() { reject(); }

void TOptions::FinishCellEdit() { FCellDelegate->Finish(true); }

void TOptions::btnAddClick() {
  // The row being edited is stored before another row becomes current.
  FinishCellEdit();
  const int Row = ClientDataSet1->AddRow();
  const QModelIndex Cell = DataSource1->mapFromSource(ClientDataSet1->index(Row, 0));
  DBGrid1->setCurrentIndex(Cell);
  DBGrid1->scrollTo(Cell);
  DBGrid1->edit(Cell);
}

void TOptions::btnDeleteClick() {
  // The cell being edited goes with its row.
  FCellDelegate->Finish(false);
  const QModelIndex Current = DBGrid1->currentIndex();
  if (!Current.isValid())
    throw std::runtime_error("There is no row to delete");
  ClientDataSet1->removeRows(DataSource1->mapToSource(Current).row(), 1);
}

void TOptions::SetSettings(const TRotatorSettings &S) {
  SetTitle(S.Title);
  SetMapFileName(S.MapFileName);
  SetEnable(S.Enable);
  SetAutoActive(S.AutoActive);
  SetModel(S.Model);
  SetCenterPosition(S.CenterPosition);
  SetAzimuthAngle(S.AzimuthAngle);
  SetRotationSpeed(S.RotationSpeed);
  SetHomePosition(S.Home);
  SetReturnHome(S.ReturnHome);
  SetOffsetAngle(S.Offset);
  SetCommandB(S.CommandB);
  SetCommandA(S.CommandA);
  SetRelaysCount(S.RelaysCount);
  SetPort(S.Port);
  SetBaudRate(S.BaudRate);
  SetDataBits(S.DataBits);
  SetParity(S.Parity);
  SetStopBits(S.StopBits);
  SetFlowControl(S.FlowControl);
}

TRotatorSettings TOptions::Settings() const {
  TRotatorSettings S;
  S.Title = Title();
  S.MapFileName = MapFileName();
  S.Enable = Enable();
  S.AutoActive = AutoActive();
  S.Model = Model();
  S.CenterPosition = CenterPosition() == cpSouth ? cpSouth : cpNorth;
  S.AzimuthAngle = AzimuthAngle() == az450 ? az450 : az360;
  S.RotationSpeed = RotationSpeed();
  S.Home = HomePosition();
  S.ReturnHome = ReturnHome();
  S.Offset = OffsetAngle();
  S.CommandB = CommandB();
  S.CommandA = CommandA();
  S.RelaysCount = RelaysCount();
  S.Port = Port();
  S.BaudRate = BaudRate();
  S.DataBits = DataBits();
  S.Parity = Parity();
  S.StopBits = StopBits();
  S.FlowControl = FlowControl();
  return S;
}
