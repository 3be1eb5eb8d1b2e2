// The "Options" command of the main window: filling the dialog from the
// current rotator, applying what the operator confirmed to the rotator's
// settings, its driver, the settings document, the port and the page,
// reloading the station's control table, and leaving everything alone on
// Cancel.

#include "tools/Gs232Emulator.h"
#include "MainTestFixture.h"
#include "app/Options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include <chrono>

using namespace std::chrono_literals;

namespace {

using Kind = TRecordingUiServices::Entry::Kind;

// Ticks or clears a check box the way the operator does.
void SetTick(QCheckBox *Box, bool Checked) {
  if (Box->isChecked() != Checked)
    Box->click();
}

// Replaces the whole text of an edit by typing.
void Retype(QLineEdit *Edit, const QString &Text) {
  Edit->selectAll();
  QTest::keyClick(Edit, Qt::Key_Backspace);
  QTest::keyClicks(Edit, Text);
}

int Count(const Gs232Emulator &Emulator, const char *Command) {
  int N = 0;
  for (const auto &Received : Emulator.commands())
    N += Received.command == Command;
  return N;
}

// What the operator can see of a rotator's settings, to compare before and
// after a dialog.
struct TSnapshot {
  QStringList Rotators;
  QStringList Rotator;
  bool CtrlTableEnable;
  QStringList Driver;
  bool Active;
  QByteArray Document;

  friend bool operator==(const TSnapshot &, const TSnapshot &) = default;
};

class OptionsActionTest : public MainTest {
protected:
  QString TablePath() const { return Dir.filePath(QStringLiteral("CtrlTable.xml")); }

  QByteArray ReadTable() const {
    QFile File(TablePath());
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray("absent");
  }

  static QStringList DriverValues(const TGs232 &D) {
    return {D.Model(),
            QString::number(D.CenterPosition()),
            QString::number(D.AzimuthAngle()),
            D.RotationSpeed(),
            QString::number(D.AzHomeD()),
            QString::number(D.ReturnHome()),
            QString::number(D.AzOffsetD()),
            D.CommandB(),
            D.CommandA(),
            QString::number(D.RelayArray()->Count()),
            D.Port(),
            D.BaudRate(),
            D.DataBits(),
            D.Parity(),
            D.StopBits(),
            D.FlowControl()};
  }

  TSnapshot Snapshot(const TMain &M) const {
    QStringList Rotators;
    for (int I = 0; I < RotatorCount(M); ++I)
      Rotators << RotatorBlock(Driver(M, I).Settings()).join('\n');
    return {Rotators,        CurrentBlock(M),          M.Station().CtrlTableEnable(),
            DriverValues(*CurrentDriver(M)), CurrentDriver(M)->Active(), ReadFile()};
  }

  std::unique_ptr<Gs232Emulator> StartEmulator() {
    Gs232Emulator::Options Options;
    Options.timeScale = 10;
    auto Emulator = std::make_unique<Gs232Emulator>(Options);
    EXPECT_TRUE(Emulator->start());
    return Emulator;
  }
};

} // namespace

TEST_F(OptionsActionTest, DialogIsFilledFromTheCurrentRotatorAndItsMessagesComeFirst) {
  WritePicture("mast.bmp", Qt::gray);
  const QString Map = Dir.filePath("mast.bmp");
  auto Keys = EntryKeys("Mast", "/dev/ttyUSB9");
  Keys.insert(Keys.end(), {{"MapFileName", Map},
                           {"Model", " gs-232b"},
                           {"CenterPosition", "1"},
                           {"RotationSpeed", "7"},
                           {"Home", "45"},
                           {"ReturnHome", "-1"},
                           {"Offset", "-10"},
                           {"CommandB", "Y11"},
                           {"CommandA", "Y10"},
                           {"RelaysCount", "2"},
                           {"BaudRate", "1200"},
                           {"DataBits", "7"},
                           {"Parity", "Mark"},
                           {"StopBits", "2"},
                           {"FlowControl", "Hardware"}});
  WriteSettings({{"Rotator_0", EntryKeys("Other", "/dev/ttyUSB8")}, {"Rotator_1", Keys}},
                "<CtrlTable><Enable Type=\"2\">-1</Enable></CtrlTable>\n");
  auto M = Start();
  const TControls C(*M);
  C.PageControl1->setCurrentIndex(1);
  ASSERT_EQ(M->Station().CurrentRotator(), 1);
  Ui->clear();

  QStringList ShownBefore;
  ExecuteOptions(*M, [&](TOptions &O) {
    ShownBefore = Ui->shown();
    EXPECT_TRUE(O.CtrlTableEnable());
    EXPECT_EQ(O.Title(), "Mast");
    EXPECT_EQ(O.MapFileName(), Map);
    EXPECT_TRUE(O.Enable());
    EXPECT_FALSE(O.AutoActive());
    EXPECT_EQ(O.Model(), "GS-232B");
    EXPECT_EQ(O.CenterPosition(), 1);
    EXPECT_EQ(O.RotationSpeed(), "7");
    EXPECT_EQ(O.HomePosition(), 45);
    EXPECT_TRUE(O.ReturnHome());
    EXPECT_EQ(O.OffsetAngle(), -10);
    EXPECT_EQ(O.CommandB(), "Y11");
    EXPECT_EQ(O.CommandA(), "Y10");
    EXPECT_EQ(O.RelaysCount(), 2);
    EXPECT_EQ(O.cmbRelaysCount->currentIndex(), -1);
    EXPECT_EQ(O.Port(), "/dev/ttyUSB9");
    EXPECT_EQ(O.cmbPort->currentText(), "/dev/ttyUSB9");
    EXPECT_EQ(O.BaudRate(), "1200");
    EXPECT_EQ(O.DataBits(), "7");
    EXPECT_EQ(O.Parity(), "Mark");
    EXPECT_EQ(O.StopBits(), "2");
    EXPECT_EQ(O.FlowControl(), "HARDWARE");
    // Applied without touching anything.
    O.btnApply->click();
    return O.result();
  });
  EXPECT_EQ(ShownBefore, (QStringList{"Rotation speed \"7\" can not be used",
                                      "BaudRate can not be found", "Parity can not be found"}));
  EXPECT_EQ(Ui->shown(), ShownBefore);

  // Values that matched no entry reach the driver and the document as they
  // were stored, like the port that is not in the list.
  TGs232 &D = Driver(*M, 1);
  EXPECT_EQ(DriverValues(D),
            (QStringList{"GS-232B", "1", "0", "7", "45", "1", "-10", "Y11", "Y10", "2",
                         "/dev/ttyUSB9", "1200", "7", "Mark", "2", "Hardware"}));
  const auto Saved = SavedRotators();
  ASSERT_TRUE(Saved);
  ASSERT_EQ(Saved->size(), 2u);
  EXPECT_EQ(Saved->at(1).second.at("Port"), "/dev/ttyUSB9");
  EXPECT_EQ(Saved->at(1).second.at("BaudRate"), "1200");
  EXPECT_EQ(Saved->at(1).second.at("Parity"), "Mark");
  EXPECT_EQ(Saved->at(1).second.at("RotationSpeed"), "7");
  EXPECT_EQ(Saved->at(1).second.at("RelaysCount"), "2");
  EXPECT_EQ(Saved->at(1).second.at("Title"), "Mast");
  EXPECT_EQ(Saved->at(0).second.at("Title"), "Other");
  EXPECT_EQ(DriverValues(Driver(*M, 0))[10], "/dev/ttyUSB8");
}

TEST_F(OptionsActionTest, ApplyingClosesThePortAndReopensItByEnableAndAutoActive) {
  struct TCase {
    bool Enable;
    bool AutoActive;
    bool Active;     // open after applying
    int Opens;       // opening sequences the controller saw; 0: not to be seen
    bool OpenButton; // the Open/Close button is available
  };
  const TCase Cases[] = {
      // A second opening: the port was closed before the settings changed.
      {true, true, true, 2, true},
      {true, false, false, 1, true},
      // Opened by the automatic open and closed again at once by the page
      // refresh, which purges what the opening sent: only the end is seen.
      {false, true, false, 0, false},
      {false, false, false, 1, false},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(testing::Message() << "Enable " << Case.Enable << " AutoActive "
                                    << Case.AutoActive);
    auto Emulator = StartEmulator();
    WriteSettings({{"Rotator_0", EntryKeys("Mast", Emulator->devicePath())}});
    auto M = Start();
    const TControls C(*M);
    C.btnOpenClose->click();
    ASSERT_TRUE(CurrentDriver(*M)->Active()) << Ui->shown().join('|').toStdString();
    ASSERT_TRUE(Emulator->waitForCommands(3, 5s));
    ASSERT_EQ(Count(*Emulator, "I0"), 1);

    ExecuteOptions(*M, [&](TOptions &O) {
      SetTick(O.cbxEnable, Case.Enable);
      SetTick(O.cbxAutoActive, Case.AutoActive);
      O.btnApply->click();
      return O.result();
    });

    EXPECT_EQ(CurrentDriver(*M)->Active(), Case.Active);
    if (Case.Opens > 0) {
      EXPECT_TRUE(WaitFor([&] { return Count(*Emulator, "I0") >= Case.Opens; }));
      EXPECT_EQ(Count(*Emulator, "I0"), Case.Opens);
    }
    EXPECT_EQ(C.btnOpenClose->isEnabled(), Case.OpenButton);
    EXPECT_EQ(C.btnOpenClose->text(), Case.Active ? "Close" : "Open");
    EXPECT_EQ(C.btnCW->isEnabled(), Case.Active);
    EXPECT_EQ(BlockValue(CurrentBlock(*M), "Enable"), Case.Enable ? "-1" : "0");
    EXPECT_EQ(BlockValue(CurrentBlock(*M), "AutoActive"), Case.AutoActive ? "-1" : "0");
    const auto Saved = SavedRotators();
    ASSERT_TRUE(Saved);
    EXPECT_EQ(Saved->at(0).second.at("Enable"), Case.Enable ? "-1" : "0");
    EXPECT_EQ(Saved->at(0).second.at("AutoActive"), Case.AutoActive ? "-1" : "0");
    EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
    M.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

TEST_F(OptionsActionTest, ConfirmedValuesReachTheBlockDriverDocumentPageAndTable) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", "/dev/ttyUSB0")},
                 {"Rotator_1", EntryKeys("Tower", "/dev/ttyUSB1")}});
  TCtrlTable Table;
  Table.Rows = {TCtrlRow{7.0, 7.3, 1, 5, "40m"}};
  Table.Save(TablePath());
  auto M = Start();
  ASSERT_EQ(M->Station().CurrentRotator(), 0);

  ExecuteOptions(*M, [&](TOptions &O) {
    Retype(O.edtTitle, "Yagi");
    QTest::keyClick(O.cmbModel, Qt::Key_End); // KELVANE
    QTest::keyClick(O.cmbAzimuthAngle, Qt::Key_End); // 450°
    QTest::keyClick(O.cmbRotationSpeed, Qt::Key_Home); // Low
    Retype(O.edtHomePosition, "90");
    Retype(O.edtOffsetAngle, "-20");
    Retype(O.edtCommandB, "Y21");
    QTest::keyClick(O.cmbRelaysCount, Qt::Key_End); // 8
    QTest::keyClick(O.cmbBaudRate, Qt::Key_End); // 38400
    O.cbxCtrlTable->click();
    // A second row for the table.
    O.PageControl1->setCurrentIndex(1);
    const int Row = O.ClientDataSet1->AddRow();
    O.ClientDataSet1->setData(O.ClientDataSet1->index(Row, 0), "14");
    O.ClientDataSet1->setData(O.ClientDataSet1->index(Row, 1), "14.35");
    O.btnApply2->click();
    return O.result();
  });

  EXPECT_EQ(Tabs(*M), (QStringList{"Yagi", "Tower", "Console"}));
  EXPECT_EQ(BlockTitles(*M), (QStringList{"Yagi", "Tower"}));
  EXPECT_EQ(BlockValue(CurrentBlock(*M), "Title"), "Yagi");
  EXPECT_TRUE(M->Station().CtrlTableEnable());
  TGs232 &D = Driver(*M, 0);
  EXPECT_EQ(DriverValues(D),
            (QStringList{"KELVANE", "0", "1", "1", "90", "0", "-20", "Y21", "", "8",
                         "/dev/ttyUSB0", "38400", "8", "None", "1", "None"}));
  EXPECT_EQ(DriverValues(Driver(*M, 1))[0], "GS-232A");

  const auto Saved = SavedRotators();
  ASSERT_TRUE(Saved);
  const auto &Keys = Saved->at(0).second;
  EXPECT_EQ(Keys.at("Title"), "Yagi");
  EXPECT_EQ(Keys.at("Model"), "KELVANE");
  EXPECT_EQ(Keys.at("Home"), "90");
  EXPECT_EQ(Keys.at("Offset"), "-20");
  EXPECT_EQ(Keys.at("RelaysCount"), "8");
  EXPECT_EQ(Keys.at("BaudRate"), "38400");
  EXPECT_EQ(Saved->at(1).second.at("Title"), "Tower");
  TXMLIniFile Ini(SettingsPath());
  ASSERT_TRUE(Ini.OpenNode("/CtrlTable", false));
  EXPECT_TRUE(Ini.ReadBool("Enable", false));

  // The window's table is the file the dialog wrote, in stored order.
  TCtrlTable Expected = Table;
  Expected.Rows.push_back(TCtrlRow{14.0, 14.35});
  TCtrlTable File;
  File.Load(TablePath());
  EXPECT_EQ(File, Expected);
  EXPECT_EQ(M->Station().CtrlTable(), Expected);
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(OptionsActionTest, CancelLeavesBlockDriverDocumentAndTableFileAlone) {
  auto Emulator = StartEmulator();
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Emulator->devicePath())}});
  // With and without a table file: Cancel creates none either.
  for (const bool WithTable : {true, false}) {
    SCOPED_TRACE(WithTable ? "table file" : "no table file");
    QFile::remove(TablePath());
    if (WithTable) {
      TCtrlTable Table;
      Table.Rows = {TCtrlRow{7.0, 7.3, 1, 5, "40m"}};
      Table.Save(TablePath());
    }
    auto M = Start();
    const TControls C(*M);
    C.btnOpenClose->click();
    ASSERT_TRUE(CurrentDriver(*M)->Active());
    // Make sure the document exists as it is before the dialog.
    M->Station().SaveRotators();
    const TSnapshot Before = Snapshot(*M);
    const QByteArray TableBefore = ReadTable();
    const TCtrlTable WindowTable = M->Station().CtrlTable();

    for (const bool ByCloseButton : {false, true}) {
      ExecuteOptions(*M, [&](TOptions &O) {
        Retype(O.edtTitle, "Changed");
        O.cbxEnable->click();
        O.cbxCtrlTable->click();
        QTest::keyClick(O.cmbModel, Qt::Key_End);
        Retype(O.edtHomePosition, "200");
        O.btnAdd->click();
        (ByCloseButton ? O.btnCancel2 : O.btnCancel)->click();
        return O.result();
      });
      EXPECT_EQ(Snapshot(*M), Before);
      EXPECT_EQ(ReadTable(), TableBefore);
      EXPECT_EQ(M->Station().CtrlTable(), WindowTable);
      EXPECT_EQ(Tabs(*M), (QStringList{"Mast", "Console"}));
    }
    // Closed by other means than a button.
    ExecuteOptions(*M, [&](TOptions &O) {
      Retype(O.edtTitle, "Changed");
      O.reject();
      return O.result();
    });
    EXPECT_EQ(Snapshot(*M), Before);
    EXPECT_EQ(ReadTable(), TableBefore);
    EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
    M.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

TEST_F(OptionsActionTest, UnwritableSettingsAreReportedAndThePageStillFollows) {
  auto Emulator = StartEmulator();
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Emulator->devicePath())}});
  auto M = Start();
  const TControls C(*M);
  // A folder in the settings document's place can't be written, not even by
  // the administrator.
  ASSERT_TRUE(QFile::remove(SettingsPath()));
  ASSERT_TRUE(QDir().mkdir(SettingsPath()));

  ExecuteOptions(*M, [&](TOptions &O) {
    Retype(O.edtTitle, "Yagi");
    SetTick(O.cbxAutoActive, true);
    O.btnApply->click();
    return O.result();
  });
  EXPECT_EQ(Ui->texts(Kind::Exception).size(), 1) << Ui->shown().join('|').toStdString();
  EXPECT_EQ(BlockTitles(*M), QStringList{"Yagi"});
  EXPECT_EQ(Tabs(*M), (QStringList{"Yagi", "Console"}));
  EXPECT_TRUE(CurrentDriver(*M)->Active());
  EXPECT_EQ(C.btnOpenClose->text(), "Close");
  // Opening the dialog again shows what was applied.
  ExecuteOptions(*M, [&](TOptions &O) {
    EXPECT_EQ(O.Title(), "Yagi");
    EXPECT_TRUE(O.AutoActive());
    return int(QDialog::Rejected);
  });
  M.reset();
  QDir().rmdir(SettingsPath());
}

TEST_F(OptionsActionTest, MapThatCanNotBeShownIsReportedAndTheTableIsStillReloaded) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", "/dev/ttyUSB0")}});
  auto M = Start();
  ASSERT_EQ(M->Station().CtrlTable().RowCount(), 0);
  const QString Missing = Dir.filePath("missing.bmp");
  Ui->openAnswers = {Missing};

  ExecuteOptions(*M, [&](TOptions &O) {
    O.btnFileSelect->click();
    const int Row = O.ClientDataSet1->AddRow();
    O.ClientDataSet1->setData(O.ClientDataSet1->index(Row, 0), "7");
    O.btnApply->click();
    return O.result();
  });
  ASSERT_EQ(Ui->texts(Kind::Exception).size(), 1);
  EXPECT_TRUE(Ui->texts(Kind::Exception)[0].contains("missing.bmp"));
  EXPECT_EQ(BlockValue(CurrentBlock(*M), "MapFileName"), Missing);
  EXPECT_EQ(SavedRotators()->at(0).second.at("MapFileName"), Missing);
  ASSERT_EQ(M->Station().CtrlTable().RowCount(), 1);
  EXPECT_EQ(M->Station().CtrlTable().Rows[0].LowerFreq, 7.0);
}

// The way to the emulator that the README gives a newcomer: on a first start,
// "Options", tick "Enable", type the emulator's link as the port, apply, then
// "Open" and turn.
TEST_F(OptionsActionTest, TypedPortOfTheEmulatorOpensAndTurnsTheRotator) {
  auto Emulator = StartEmulator();
  const QString Link = Dir.filePath(QStringLiteral("gs232"));
  ASSERT_TRUE(QFile::link(Emulator->devicePath(), Link));
  auto M = Start();
  const TControls C(*M);
  ASSERT_FALSE(C.btnOpenClose->isEnabled());

  ExecuteOptions(*M, [&](TOptions &O) {
    SetTick(O.cbxEnable, true);
    Retype(O.cmbPort->lineEdit(), Link);
    O.btnApply->click();
    return O.result();
  });
  EXPECT_EQ(CurrentDriver(*M)->Port(), Link);
  ASSERT_TRUE(C.btnOpenClose->isEnabled());
  C.btnOpenClose->click();
  ASSERT_TRUE(CurrentDriver(*M)->Active()) << Ui->shown().join('|').toStdString();
  C.btnCW->click();
  EXPECT_TRUE(WaitFor([&] { return Count(*Emulator, "R") == 1; }));
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  const auto Saved = SavedRotators();
  ASSERT_TRUE(Saved);
  EXPECT_EQ(Saved->at(0).second.at("Port"), Link);
}

// A control table file that can't be read does not keep the operator from
// the rotator's options: the dialog opens after one report, its rows can't be
// edited, and applying changes the rotator and leaves the file as it was.
TEST_F(OptionsActionTest, UnreadableControlTableStillLetsTheRotatorOptionsBeApplied) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", "/dev/ttyUSB9")}});
  QFile Table(TablePath());
  ASSERT_TRUE(Table.open(QIODevice::WriteOnly));
  Table.write("not a data packet");
  Table.close();
  auto M = Start();
  Ui->clear();

  bool Shown = false;
  ExecuteOptions(*M, [&](TOptions &O) {
    Shown = true;
    EXPECT_EQ(Ui->texts(Kind::Exception).size(), 1);
    EXPECT_TRUE(O.TableProblem().contains("CtrlTable.xml")) << O.TableProblem().toStdString();
    EXPECT_FALSE(O.DBGrid1->isEnabled());
    EXPECT_FALSE(O.btnAdd->isEnabled());
    Retype(O.edtTitle, "Tower");
    O.btnApply->click();
    return O.result();
  });
  ASSERT_TRUE(Shown);
  EXPECT_EQ(CurrentDriver(*M)->Title(), "Tower");
  EXPECT_EQ(ReadTable(), QByteArray("not a data packet"));
  EXPECT_EQ(Ui->shown().size(), 1) << Ui->shown().join('|').toStdString();
}
