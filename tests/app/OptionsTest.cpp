// The options dialog on its own: matching of the values written into it,
// the operator's input going back into the values, the port list, and the
// control table tab with its buttons and the table file.

#include "app/Options.h"
#include "common/RecordingUiServices.h"
#include "common/RotatorSettingsSamples.h"
#include "base/UiServices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Kind = TRecordingUiServices::Entry::Kind;

QStringList Entries(const QComboBox *List) {
  QStringList Texts;
  for (int I = 0; I < List->count(); ++I)
    Texts << List->itemText(I);
  return Texts;
}

class OptionsTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Dir.isValid()); }

  QString TablePath() const { return Dir.filePath(QStringLiteral("CtrlTable.xml")); }

  void WriteTable(const TCtrlTable &Table) { Table.Save(TablePath()); }

  QByteArray ReadTableFile() const {
    QFile File(TablePath());
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
  }

  std::unique_ptr<TOptions> Make() { return std::make_unique<TOptions>(TablePath()); }

  // The editor of the grid cell being edited.
  static QLineEdit *CellEditor(const TOptions &O) {
    for (QLineEdit *Editor : O.DBGrid1->viewport()->findChildren<QLineEdit *>())
      if (!Editor->isHidden())
        return Editor;
    return nullptr;
  }

  TScopedRecordingUi Ui;
  QTemporaryDir Dir;
};

TEST_F(OptionsTest, ShowsTheCaptionsAndListsOfBothTabs) {
  auto O = Make();
  EXPECT_EQ(O->windowTitle(), "Options");
  EXPECT_EQ(O->PageControl1->tabText(0), "Rotator");
  EXPECT_EQ(O->PageControl1->tabText(1), "Table");

  QStringList Labels;
  for (const QLabel *Label : O->findChildren<QLabel *>())
    Labels << Label->text();
  for (const char *Caption :
       {"Title", "Map file", "Model", "Center Position", "Azimuth Angle", "Rotation Speed",
        "Home Position", "Offset Angle", "Command on before", "Command on after", "Relays Count",
        "Port", "Baud Rate", "Data Bits", "Parity", "Stop Bits", "Flow Control"})
    EXPECT_TRUE(Labels.contains(Caption)) << Caption;

  EXPECT_EQ(O->btnFileSelect->text(), "・・・");
  EXPECT_EQ(O->btnGetHome->toolTip(), "Set Home position to Current position");
  EXPECT_EQ(O->cbxAutoActive->text(), "Automatic Open on Startup");
  EXPECT_EQ(O->cbxReturnHome->text(), "Return Home Position on Close");
  EXPECT_EQ(O->btnDelete->text(), "Deleet");
  for (QPushButton *Apply : {O->btnApply, O->btnApply2})
    EXPECT_EQ(Apply->text(), "Apply");
  for (QPushButton *Cancel : {O->btnCancel, O->btnCancel2})
    EXPECT_EQ(Cancel->text(), "Cancel");

  EXPECT_EQ(Entries(O->cmbModel), (QStringList{"GS-232A", "GS-232B", "KELVANE"}));
  EXPECT_EQ(Entries(O->cmbCenterPosition), (QStringList{"North", "South"}));
  EXPECT_EQ(Entries(O->cmbAzimuthAngle), (QStringList{"360°", "450°"}));
  EXPECT_EQ(Entries(O->cmbRotationSpeed), (QStringList{"Low", "Middle1", "Middle2", "High"}));
  EXPECT_EQ(Entries(O->cmbRelaysCount), (QStringList{"0", "4", "8"}));
  EXPECT_EQ(Entries(O->cmbBaudRate), (QStringList{"4800", "9600", "19200", "38400"}));
  EXPECT_EQ(Entries(O->cmbDataBits), (QStringList{"5", "6", "7", "8"}));
  EXPECT_EQ(Entries(O->cmbParity), (QStringList{"NONE", "ODD", "EVEN", "", ""}));
  EXPECT_EQ(Entries(O->cmbStopBits), (QStringList{"1", "1.5", "2"}));
  EXPECT_EQ(Entries(O->cmbFlowControl), (QStringList{"HARDWARE", "SOFTWARE", "NONE", "CUSTOM"}));
  // Only the port takes a typed name (a device path not in the list).
  for (const QComboBox *List : O->findChildren<QComboBox *>())
    EXPECT_EQ(List->isEditable(), List == O->cmbPort) << List->objectName().toStdString();
  EXPECT_TRUE(Ui->entries.empty());
}

// Writing a value into the dialog: which entry the list shows, what the
// property holds afterwards, and the error boxes.
struct TSetterCase {
  const char *Name;
  std::function<void(TOptions &)> Prepare; // a value written beforehand, if any
  std::function<void(TOptions &)> Write;
  std::function<QString(const TOptions &)> Read;
  std::function<QComboBox *(const TOptions &)> List;
  QString Held;      // the property afterwards
  int Shown;         // the list's current index afterwards
  QStringList Errors; // error boxes shown by Write
};

TEST_F(OptionsTest, WrittenValuesAreMatchedAgainstTheLists) {
  const QString SpeedError = QStringLiteral("Rotation speed \"%1\" can not be used");
  auto Model = [](const TOptions &O) { return O.Model(); };
  auto ModelList = [](const TOptions &O) { return O.cmbModel; };
  auto Speed = [](const TOptions &O) { return O.RotationSpeed(); };
  auto SpeedList = [](const TOptions &O) { return O.cmbRotationSpeed; };
  auto SetSpeed = [](const char *V) { return [V](TOptions &O) { O.SetRotationSpeed(V); }; };
  auto Relays = [](const TOptions &O) { return QString::number(O.RelaysCount()); };
  auto RelaysList = [](const TOptions &O) { return O.cmbRelaysCount; };

  const TSetterCase Cases[] = {
      {"model in lower case with blanks", {}, [](TOptions &O) { O.SetModel(" gs-232b  "); },
       Model, ModelList, "GS-232B", 1, {}},
      {"unknown model is held as given", [](TOptions &O) { O.SetModel("KELVANE"); },
       [](TOptions &O) { O.SetModel("GS-232C"); }, Model, ModelList, "GS-232C", -1,
       {"Model can not be found"}},
      {"baud rate 1200", {}, [](TOptions &O) { O.SetBaudRate("1200"); },
       [](const TOptions &O) { return O.BaudRate(); },
       [](const TOptions &O) { return O.cmbBaudRate; }, "1200", -1, {"BaudRate can not be found"}},
      {"empty parity takes the first empty entry", {}, [](TOptions &O) { O.SetParity(""); },
       [](const TOptions &O) { return O.Parity(); }, [](const TOptions &O) { return O.cmbParity; },
       "", 3, {}},
      {"parity as the port reads it", {}, [](TOptions &O) { O.SetParity("Even"); },
       [](const TOptions &O) { return O.Parity(); }, [](const TOptions &O) { return O.cmbParity; },
       "EVEN", 2, {}},
      {"unknown parity", {}, [](TOptions &O) { O.SetParity("Mark"); },
       [](const TOptions &O) { return O.Parity(); }, [](const TOptions &O) { return O.cmbParity; },
       "Mark", -1, {"Parity can not be found"}},
      {"data bits", {}, [](TOptions &O) { O.SetDataBits("9"); },
       [](const TOptions &O) { return O.DataBits(); },
       [](const TOptions &O) { return O.cmbDataBits; }, "9", -1, {"DataBits can not be found"}},
      {"stop bits", {}, [](TOptions &O) { O.SetStopBits(" 1.5"); },
       [](const TOptions &O) { return O.StopBits(); },
       [](const TOptions &O) { return O.cmbStopBits; }, "1.5", 1, {}},
      {"flow control", {}, [](TOptions &O) { O.SetFlowControl("Xon"); },
       [](const TOptions &O) { return O.FlowControl(); },
       [](const TOptions &O) { return O.cmbFlowControl; }, "Xon", -1,
       {"FlowControl can not be found"}},
      {"rotation speed 0 selects nothing", SetSpeed("2"), SetSpeed("0"), Speed, SpeedList, "0", -1,
       {}},
      {"empty rotation speed reads as 0", {}, SetSpeed(" "), Speed, SpeedList, "0", -1, {}},
      {"rotation speed with blanks", {}, SetSpeed(" 3 "), Speed, SpeedList, "3", 2, {}},
      {"rotation speed 5", SetSpeed("2"), SetSpeed("5"), Speed, SpeedList, "5", -1,
       {SpeedError.arg("5")}},
      {"rotation speed -1", SetSpeed("2"), SetSpeed("-1"), Speed, SpeedList, "-1", -1,
       {SpeedError.arg("-1")}},
      {"relays 2 shows no entry and is held", [](TOptions &O) { O.SetRelaysCount(8); },
       [](TOptions &O) { O.SetRelaysCount(2); }, Relays, RelaysList, "2", -1, {}},
      {"relays 4", {}, [](TOptions &O) { O.SetRelaysCount(4); }, Relays, RelaysList, "4", 1, {}},
      {"south", {}, [](TOptions &O) { O.SetCenterPosition(1); },
       [](const TOptions &O) { return QString::number(O.CenterPosition()); },
       [](const TOptions &O) { return O.cmbCenterPosition; }, "1", 1, {}},
  };
  for (const TSetterCase &C : Cases) {
    SCOPED_TRACE(C.Name);
    auto O = Make();
    if (C.Prepare)
      C.Prepare(*O);
    Ui->clear();
    C.Write(*O);
    EXPECT_EQ(C.Read(*O), C.Held);
    EXPECT_EQ(C.List(*O)->currentIndex(), C.Shown);
    EXPECT_EQ(Ui->texts(Kind::Error), C.Errors);
    EXPECT_EQ(Ui->shown(), C.Errors);
  }
}

// A stored value that no list entry shows survives confirming the dialog for
// an unrelated change; picking an entry in that list replaces it.
TEST_F(OptionsTest, StoredValuesTheListsDoNotOfferAreKeptUnlessAnEntryIsPicked) {
  struct TCase {
    const char *Name;
    std::function<void(TRotatorSettings &)> Store;
    std::function<QString(const TRotatorSettings &)> Read;
    QComboBox *TOptions::*List;
    QString Picked; // the first entry, as the property holds it
    QString Error;
  };
  auto Baud = [](const TRotatorSettings &S) { return S.BaudRate; };
  auto Parity = [](const TRotatorSettings &S) { return S.Parity; };
  const TCase Cases[] = {
      {"baud rate 1200", [](TRotatorSettings &S) { S.BaudRate = "1200"; }, Baud,
       &TOptions::cmbBaudRate, "4800", "BaudRate can not be found"},
      {"baud rate 115200", [](TRotatorSettings &S) { S.BaudRate = "115200"; }, Baud,
       &TOptions::cmbBaudRate, "4800", "BaudRate can not be found"},
      {"parity Mark", [](TRotatorSettings &S) { S.Parity = "Mark"; }, Parity,
       &TOptions::cmbParity, "NONE", "Parity can not be found"},
      {"parity Space", [](TRotatorSettings &S) { S.Parity = "Space"; }, Parity,
       &TOptions::cmbParity, "NONE", "Parity can not be found"},
      {"unknown model", [](TRotatorSettings &S) { S.Model = "GS-23"; },
       [](const TRotatorSettings &S) { return S.Model; }, &TOptions::cmbModel, "GS-232A",
       "Model can not be found"},
      {"rotation speed 7", [](TRotatorSettings &S) { S.RotationSpeed = "7"; },
       [](const TRotatorSettings &S) { return S.RotationSpeed; }, &TOptions::cmbRotationSpeed,
       "1", "Rotation speed \"7\" can not be used"},
      {"relays count 2", [](TRotatorSettings &S) { S.RelaysCount = 2; },
       [](const TRotatorSettings &S) { return QString::number(S.RelaysCount); },
       &TOptions::cmbRelaysCount, "0", ""},
  };
  for (const TCase &C : Cases) {
    SCOPED_TRACE(C.Name);
    TRotatorSettings Stored = TRotatorSettings::Defaults("Mast");
    C.Store(Stored);
    const QStringList Errors = C.Error.isEmpty() ? QStringList{} : QStringList{C.Error};

    // The operator only changes the title and confirms.
    auto O = Make();
    Ui->clear();
    O->SetSettings(Stored);
    EXPECT_EQ(Ui->shown(), Errors);
    EXPECT_EQ(((*O).*C.List)->currentIndex(), -1);
    QTest::keyClicks(O->edtTitle, " 2");
    O->btnApply->click();
    EXPECT_EQ(O->result(), QDialog::Accepted);
    EXPECT_EQ(O->Settings(), With(Stored, [](TRotatorSettings &S) { S.Title = "Mast 2"; }));

    // The operator picks the list's first entry: that is taken.
    auto P = Make();
    P->SetSettings(Stored);
    QTest::keyClick((*P).*C.List, Qt::Key_Home);
    EXPECT_EQ(((*P).*C.List)->currentIndex(), 0);
    P->btnApply->click();
    EXPECT_EQ(C.Read(P->Settings()), C.Picked);
  }
}

TEST_F(OptionsTest, PortsAreMatchedExactlyAndAPortNotInTheListIsKept) {
  auto O = Make();
  O->FillPortList({"/dev/ttyUSB0", "/dev/ttyS0"});
  EXPECT_EQ(Entries(O->cmbPort), (QStringList{"/dev/ttyUSB0", "/dev/ttyS0"}));
  EXPECT_EQ(O->cmbPort->currentIndex(), -1);
  EXPECT_EQ(O->Port(), "");

  O->SetPort(" /dev/ttyS0 ");
  EXPECT_EQ(O->Port(), "/dev/ttyS0");
  EXPECT_EQ(O->cmbPort->currentText(), "/dev/ttyS0");

  // Device names are case-sensitive: another spelling is another device,
  // offered as it stands.
  O->SetPort("/dev/TTYS0");
  EXPECT_EQ(O->Port(), "/dev/TTYS0");
  EXPECT_EQ(Entries(O->cmbPort), (QStringList{"/dev/ttyUSB0", "/dev/ttyS0", "/dev/TTYS0"}));
  EXPECT_EQ(O->cmbPort->currentIndex(), 2);

  // A pseudo-terminal is not a port of the computer, yet it stays the value.
  O->SetPort("/dev/pts/7");
  EXPECT_EQ(O->Port(), "/dev/pts/7");
  EXPECT_EQ(O->cmbPort->currentText(), "/dev/pts/7");

  // Writing nothing changes nothing.
  O->SetPort("  ");
  EXPECT_EQ(O->Port(), "/dev/pts/7");
  EXPECT_EQ(O->cmbPort->currentText(), "/dev/pts/7");

  // Refilling the list keeps the port selected.
  O->FillPortList({"/dev/ttyACM0"});
  EXPECT_EQ(Entries(O->cmbPort), (QStringList{"/dev/ttyACM0", "/dev/pts/7"}));
  EXPECT_EQ(O->cmbPort->currentText(), "/dev/pts/7");

  // The operator's pick becomes the value.
  QTest::keyClick(O->cmbPort, Qt::Key_Up);
  EXPECT_EQ(O->Port(), "/dev/ttyACM0");

  // So does a path typed into the field (the emulator's pseudo-terminal, a
  // link of one's own), without surrounding blanks, and the list is left as
  // it was.
  O->cmbPort->lineEdit()->selectAll();
  QTest::keyClicks(O->cmbPort->lineEdit(), " /tmp/gs232-link ");
  EXPECT_EQ(O->Port(), "/tmp/gs232-link");
  EXPECT_EQ(O->cmbPort->toolTip(), "/tmp/gs232-link");
  QTest::keyClick(O->cmbPort->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(O->Port(), "/tmp/gs232-link");
  EXPECT_EQ(Entries(O->cmbPort), (QStringList{"/dev/ttyACM0", "/dev/pts/7"}));
  EXPECT_TRUE(Ui->entries.empty());
}

TEST_F(OptionsTest, WithoutPortsTheListOffersTheDesignEntries) {
  auto O = Make();
  O->FillPortList({});
  EXPECT_EQ(Entries(O->cmbPort), (QStringList{"Com1", "Com2", "Com3", "Com4", "Com5"}));
  // The stored name is not turned into another letter case.
  O->SetPort("COM3");
  EXPECT_EQ(O->Port(), "COM3");
  EXPECT_EQ(O->cmbPort->currentText(), "COM3");
  EXPECT_EQ(O->cmbPort->count(), 6);

  // What this computer offers: device paths, or the design entries.
  const QStringList Found = TOptions::AvailablePorts();
  for (const QString &Path : Found)
    EXPECT_TRUE(Path.startsWith('/')) << Path.toStdString();
  O->ReadPortList();
  const QStringList Listed = Entries(O->cmbPort);
  const QStringList Offered =
      Found.isEmpty() ? QStringList{"Com1", "Com2", "Com3", "Com4", "Com5"} : Found;
  EXPECT_EQ(Listed.mid(0, Listed.size() - 1), Offered);
  EXPECT_EQ(O->cmbPort->currentText(), "COM3");
}

TEST_F(OptionsTest, OperatorInputGoesBackIntoTheValues) {
  auto O = Make();
  O->SetTitle("  Mast  ");
  EXPECT_EQ(O->Title(), "Mast");
  EXPECT_EQ(O->edtTitle->text(), "Mast");
  QTest::keyClicks(O->edtTitle, " 2 ");
  EXPECT_EQ(O->Title(), "Mast 2 "); // typed text is kept as it stands
  QTest::keyClicks(O->edtCommandB, "Y11,WAIT100");
  EXPECT_EQ(O->CommandB(), "Y11,WAIT100");

  O->SetRotationSpeed("1");
  QTest::keyClick(O->cmbRotationSpeed, Qt::Key_End);
  EXPECT_EQ(O->RotationSpeed(), "4");
  QTest::keyClick(O->cmbAzimuthAngle, Qt::Key_End);
  EXPECT_EQ(O->AzimuthAngle(), 1);
  QTest::keyClick(O->cmbRelaysCount, Qt::Key_End);
  EXPECT_EQ(O->RelaysCount(), 8);
  QTest::keyClick(O->cmbModel, Qt::Key_End);
  EXPECT_EQ(O->Model(), "KELVANE");

  O->cbxAutoActive->click();
  EXPECT_TRUE(O->AutoActive());
  O->cbxCtrlTable->click();
  EXPECT_TRUE(O->CtrlTableEnable());
  O->SetEnable(true);
  O->cbxEnable->click();
  EXPECT_FALSE(O->Enable());
  EXPECT_TRUE(Ui->entries.empty());
}

TEST_F(OptionsTest, NumberEditsConvertWhatIsTyped) {
  // Text typed into an empty edit, the value afterwards, and whether a
  // conversion error was shown.
  struct TCase {
    bool Home;
    const char *Typed;
    int Value;
    bool Error;
  };
  const TCase Cases[] = {
      {true, "123", 123, false},  {true, " 45 ", 45, false}, {true, "x1F", 31, false},
      {true, "-", 7, true},       {true, "-5", 7, true},     {true, "12a", 7, true},
      {false, "-", 0, false},     {false, "-15", -15, false}, {false, " 20", 20, false},
      {false, "+3", 3, false},    {false, "1-", 7, true},    {false, "abc", 7, true},
  };
  for (const TCase &C : Cases) {
    SCOPED_TRACE(testing::Message() << (C.Home ? "home " : "offset ") << C.Typed);
    auto O = Make();
    QLineEdit *Edit = C.Home ? O->edtHomePosition : O->edtOffsetAngle;
    C.Home ? O->SetHomePosition(7) : O->SetOffsetAngle(7);
    Ui->clear();
    // The whole text arrives as one edit.
    Edit->setText(C.Typed);
    Guarded([&] { C.Home ? O->edtHomePositionChange() : O->edtOffsetAngleChange(); });
    EXPECT_EQ(C.Home ? O->HomePosition() : O->OffsetAngle(), C.Value);
    EXPECT_EQ(Ui->texts(Kind::Exception).size(), C.Error ? 1 : 0);
  }

  // Emptying the edits gives 0 without a message.
  auto O = Make();
  O->SetHomePosition(9);
  O->SetOffsetAngle(9);
  Ui->clear();
  for (QLineEdit *Edit : {O->edtHomePosition, O->edtOffsetAngle}) {
    Edit->selectAll();
    QTest::keyClick(Edit, Qt::Key_Backspace);
  }
  EXPECT_EQ(O->HomePosition(), 0);
  EXPECT_EQ(O->OffsetAngle(), 0);
  EXPECT_TRUE(Ui->entries.empty());

  // Typing "-" key by key into the offset passes through "-" without a message.
  O->edtOffsetAngle->clear();
  QTest::keyClicks(O->edtOffsetAngle, "-30");
  EXPECT_EQ(O->OffsetAngle(), -30);
  EXPECT_TRUE(Ui->entries.empty());

  // The conversion error names the text.
  O->edtHomePosition->clear();
  QTest::keyClicks(O->edtHomePosition, "-");
  ASSERT_EQ(Ui->texts(Kind::Exception).size(), 1);
  EXPECT_TRUE(Ui->texts(Kind::Exception)[0].contains("0-"));
  EXPECT_EQ(O->HomePosition(), 0);
}

TEST_F(OptionsTest, MapFileAndGetHome) {
  auto O = Make();
  O->SetMapFileName("/maps/old.bmp");
  Ui->openAnswers = {QStringLiteral(" /maps/new.bmp "), std::nullopt};
  O->btnFileSelect->click();
  ASSERT_EQ(Ui->entries.size(), 1u);
  EXPECT_EQ(Ui->entries[0].kind, Kind::OpenDialog);
  EXPECT_EQ(Ui->entries[0].caption, "Select Map File");
  EXPECT_EQ(Ui->entries[0].text, "/maps/old.bmp");
  EXPECT_EQ(O->MapFileName(), "/maps/new.bmp");
  EXPECT_EQ(O->edtMapFileName->text(), "/maps/new.bmp");

  // Cancelled: nothing changes.
  O->btnFileSelect->click();
  EXPECT_EQ(O->MapFileName(), "/maps/new.bmp");

  O->SetHomePosition(10);
  O->SetCurrentPosition(123);
  O->btnGetHome->click();
  EXPECT_EQ(O->HomePosition(), 123);
  EXPECT_EQ(O->edtHomePosition->text(), "123");
}

TEST_F(OptionsTest, ApplyWritesTheTableAndCancelLeavesTheFile) {
  TCtrlTable Stored;
  Stored.Rows = {TCtrlRow{14.0, 14.35, 2, 0, "20m", "C2:Y11", "C2:Y10"},
                 TCtrlRow{7.0, 7.2, 1, -10, "40m"}};
  // Which button, and whether it applies.
  const std::pair<QPushButton *TOptions::*, bool> Buttons[] = {
      {&TOptions::btnApply, true},
      {&TOptions::btnApply2, true},
      {&TOptions::btnCancel, false},
      {&TOptions::btnCancel2, false},
  };
  for (const auto &[Button, Applies] : Buttons) {
    WriteTable(Stored);
    const QByteArray Before = ReadTableFile();
    auto O = Make();
    O->show();
    SCOPED_TRACE((O.get()->*Button)->objectName().toStdString());
    ASSERT_EQ(O->ClientDataSet1->Table(), Stored);
    // The grid shows the rows by frequency.
    EXPECT_EQ(O->DataSource1->index(0, 0).data().toString(), "7");
    O->DBGrid1->setCurrentIndex(O->DataSource1->index(0, 0));
    O->btnDelete->click();
    O->btnAdd->click();
    QLineEdit *Editor = CellEditor(*O);
    ASSERT_NE(Editor, nullptr);
    QTest::keyClicks(Editor, "21");

    (O.get()->*Button)->click();
    EXPECT_EQ(O->result(), Applies ? QDialog::Accepted : QDialog::Rejected);
    if (Applies) {
      TCtrlTable Expected;
      Expected.Rows = {Stored.Rows[0], TCtrlRow{21.0}};
      TCtrlTable Saved;
      Saved.Load(TablePath());
      EXPECT_EQ(Saved, Expected);
    } else {
      EXPECT_EQ(ReadTableFile(), Before);
    }
    EXPECT_TRUE(Ui->entries.empty()) << Ui->shown().join('|').toStdString();
  }
}

TEST_F(OptionsTest, AbsentTableFileGivesAnEmptyTableThatApplyCreates) {
  auto O = Make();
  O->show();
  EXPECT_EQ(O->ClientDataSet1->rowCount(), 0);

  // "Deleet" without a row changes nothing and says so.
  O->btnDelete->click();
  EXPECT_EQ(Ui->texts(Kind::Exception), QStringList{"There is no row to delete"});

  // A row added and left empty, and one dropped right after adding, are not
  // written.
  O->btnAdd->click();
  O->btnDelete->click();
  EXPECT_EQ(O->ClientDataSet1->rowCount(), 0);
  O->btnAdd->click();
  QLineEdit *Lower = CellEditor(*O);
  ASSERT_NE(Lower, nullptr);
  QTest::keyClicks(Lower, "7x.1"); // only what can make a number
  EXPECT_EQ(Lower->text(), "7.1");
  O->btnAdd->click(); // stores the first row and adds another
  O->btnApply2->click();

  TCtrlTable Saved;
  Saved.Load(TablePath());
  TCtrlTable Expected;
  Expected.Rows = {TCtrlRow{7.1}};
  EXPECT_EQ(Saved, Expected);
  EXPECT_EQ(Ui->entries.size(), 1u);
}

TEST_F(OptionsTest, TextCellsTakeNoMoreBytesThanTheFieldHolds) {
  auto O = Make();
  O->show();
  O->btnAdd->click();
  const int TitleColumn = static_cast<int>(TCtrlField::Title);
  const QModelIndex Cell = O->DBGrid1->currentIndex().siblingAtColumn(TitleColumn);
  O->FinishCellEdit();
  O->DBGrid1->setCurrentIndex(Cell);
  O->DBGrid1->edit(Cell);
  QLineEdit *Editor = CellEditor(*O);
  ASSERT_NE(Editor, nullptr);
  QTest::keyClicks(Editor, "ABCDEFGHIJ");
  EXPECT_EQ(Editor->text(), "ABCDEFGH");
  Editor->clear();
  // Two bytes each in the table's character set: four fit in eight bytes.
  for (const QChar Char : QStringLiteral(u"日本語無線")) {
    QKeyEvent Key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(Char));
    QCoreApplication::sendEvent(Editor, &Key);
  }
  EXPECT_EQ(Editor->text(), QStringLiteral(u"日本語無"));
  O->btnApply->click();
  TCtrlTable Saved;
  Saved.Load(TablePath());
  ASSERT_EQ(Saved.RowCount(), 1);
  EXPECT_EQ(Saved.Rows[0].Title, QStringLiteral(u"日本語無"));
}

TEST_F(OptionsTest, TableThatCanNotBeWrittenIsReportedAndTheDialogStillApplies) {
  TOptions O(Dir.filePath(QStringLiteral("missing/CtrlTable.xml")));
  O.btnApply->click();
  EXPECT_EQ(O.result(), QDialog::Accepted);
  ASSERT_EQ(Ui->texts(Kind::Error).size(), 1);
  EXPECT_TRUE(Ui->texts(Kind::Error)[0].contains("CtrlTable.xml"));
}

// The dialog opens on a file that is not a control table, with the reason,
// no rows and the row buttons locked; applying leaves the file as it was.
TEST_F(OptionsTest, FileThatIsNotAControlTableOpensLockedAndIsLeftAlone) {
  const QByteArray Stored =
      "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS/></METADATA></DATAPACKET>";
  QFile File(TablePath());
  ASSERT_TRUE(File.open(QIODevice::WriteOnly));
  File.write(Stored);
  File.close();
  auto O = Make();
  EXPECT_TRUE(O->TableProblem().contains("CtrlTable.xml")) << O->TableProblem().toStdString();
  EXPECT_EQ(O->DataSource1->rowCount(), 0);
  for (QWidget *Control : {static_cast<QWidget *>(O->DBGrid1), static_cast<QWidget *>(O->btnAdd),
                           static_cast<QWidget *>(O->btnDelete)})
    EXPECT_FALSE(Control->isEnabled()) << Control->objectName().toStdString();
  O->btnApply->click();
  EXPECT_EQ(O->result(), QDialog::Accepted);
  ASSERT_TRUE(File.open(QIODevice::ReadOnly));
  EXPECT_EQ(File.readAll(), Stored);
  EXPECT_TRUE(Ui->entries.empty());
}

} // namespace

namespace {

// A stored title wider than its field (five kanji, ten bytes of eight) does
// not keep the dialog from opening, and can be shortened until it fits; four
// kanji fit.
TEST_F(OptionsTest, AnOverlongStoredTitleOpensAndCanBeShortened) {
  TCtrlTable Stored;
  TCtrlRow Row{7.0, 7.3, 1};
  Row.Title = QStringLiteral(u"無線局長室");
  Stored.Rows = {Row};
  WriteTable(Stored);
  std::unique_ptr<TOptions> O;
  ASSERT_NO_THROW(O = Make());
  O->show();
  const QModelIndex Title = O->DataSource1->index(0, int(TCtrlField::Title));
  EXPECT_EQ(Title.data().toString(), QStringLiteral(u"無線局長室"));

  O->DBGrid1->setCurrentIndex(Title);
  O->DBGrid1->edit(Title);
  QLineEdit *Editor = CellEditor(*O);
  ASSERT_NE(Editor, nullptr);
  Editor->end(false);
  QTest::keyClick(Editor, Qt::Key_Backspace);
  EXPECT_EQ(Editor->text(), QStringLiteral(u"無線局長"));
  QTest::keyClicks(Editor, "x"); // no wider again
  EXPECT_EQ(Editor->text(), QStringLiteral(u"無線局長"));
  O->FinishCellEdit();
  EXPECT_EQ(Title.data().toString(), QStringLiteral(u"無線局長"));
}

} // namespace
