// The settings document: the window position, the control-table switch and
// the rotator entries, loaded and saved the way the main window does it.

#include "settings/SettingsDocument.h"
#include "SettingsTestSupport.h"

#include "rotator/Gs232.h"
#include "common/RecordingUiServices.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace {

// Every setting of a driver that the document keeps, one name=value line
// each, and the elevation switch that loading turns off.
QStringList DriverSettings(const TGs232 &Gs232) {
  return {
      "Model=" + Gs232.Model(),
      "CenterPosition=" + QString::number(Gs232.CenterPosition()),
      "AzimuthAngle=" + QString::number(Gs232.AzimuthAngle()),
      "RotationSpeed=" + Gs232.RotationSpeed(),
      "Home=" + QString::number(Gs232.AzHomeD()) + "/" + QString::number(Gs232.ElHomeD()),
      "ReturnHome=" + BoolToText(Gs232.ReturnHome()),
      "Offset=" + QString::number(Gs232.AzOffsetD()) + "/" + QString::number(Gs232.ElOffsetD()),
      "CommandB=" + Gs232.CommandB(),
      "CommandA=" + Gs232.CommandA(),
      "RelaysCount=" + QString::number(Gs232.RelayArray()->Count()),
      "Port=" + Gs232.Port(),
      "BaudRate=" + Gs232.BaudRate(),
      "DataBits=" + Gs232.DataBits(),
      "Parity=" + Gs232.Parity(),
      "StopBits=" + Gs232.StopBits(),
      "FlowControl=" + Gs232.FlowControl(),
      "ElEnable=" + BoolToText(Gs232.ElEnable()),
  };
}

QStringList DefaultDriverSettings() {
  TGs232 Gs232;
  QStringList Block;
  ApplyRotatorDefaults(Block, Gs232, "unused");
  return DriverSettings(Gs232);
}

// The rotators as the main window holds them.
struct TWorkspace {
  bool CtrlTableEnable = false;
  bool HasRotatorsSection = false;
  QStringList Rotators;
  std::vector<std::unique_ptr<TGs232>> Drivers;

  TGs232 &Add(const QStringList &Block) {
    Rotators.append(BlockText(Block));
    Drivers.push_back(std::make_unique<TGs232>());
    return *Drivers.back();
  }
  // A new rotator as the window makes it.
  TGs232 &AddDefault(const QString &Title) {
    QStringList Block;
    TGs232 &Gs232 = Add({});
    ApplyRotatorDefaults(Block, Gs232, Title);
    Rotators.last() = BlockText(Block);
    return Gs232;
  }
  QList<TGs232 *> Gs232s() const {
    QList<TGs232 *> List;
    for (const auto &Driver : Drivers)
      List.append(Driver.get());
    return List;
  }
};

// Loads the way window creation does: the control-table switch, then every
// rotator entry in document order, an empty title taking the tab caption.
TWorkspace Load(const QString &XmlName) {
  TWorkspace Workspace;
  TXMLIniFile Ini(XmlName);
  QStringList Problems;
  Workspace.CtrlTableEnable = ReadCtrlTableEnable(Ini, Problems);
  if (const auto Names = RotatorEntryNames(Ini)) {
    Workspace.HasRotatorsSection = true;
    for (int I = 0; I < Names->size(); ++I) {
      QStringList Rotator;
      auto Driver = std::make_unique<TGs232>();
      EXPECT_TRUE(LoadRotatorEntry(Ini, I, QStringLiteral("Rotator%1").arg(I + 1), Rotator, *Driver,
                                   Problems));
      Workspace.Rotators.append(BlockText(Rotator));
      Workspace.Drivers.push_back(std::move(Driver));
    }
  }
  ReportLoadProblems(XmlName, Problems);
  return Workspace;
}

QStringList EntryNames(const QString &XmlName) {
  TXMLIniFile Ini(XmlName);
  return RotatorEntryNames(Ini).value_or(QStringList{"<no Rotators>"});
}

class SettingsDocumentTest : public ::testing::Test {
protected:
  QString XmlName() const { return Dir.filePath("orbalt.xml"); }
  void WriteDocument(const QByteArray &Body) {
    WriteFileBytes(XmlName(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + Body);
  }
  QTemporaryDir Dir;
  TScopedRecordingUi Recorder;
};

TEST_F(SettingsDocumentTest, FirstStartThenWindowPositionSaved) {
  EXPECT_EQ(LoadWindowPosition(XmlName()).Left, 0);
  EXPECT_EQ(FileBytes(XmlName()), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root></root>\n");
  const TWorkspace Fresh = Load(XmlName());
  EXPECT_FALSE(Fresh.HasRotatorsSection);
  EXPECT_FALSE(Fresh.CtrlTableEnable);

  SaveWindowPosition(XmlName(), "1.0.0.1", 312, -140);
  EXPECT_EQ(FileBytes(XmlName()), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                  "<root>\n"
                                  "\t<Main>\n"
                                  "\t\t<Version Type=\"10\">1.0.0.1</Version>\n"
                                  "\t\t<Left Type=\"9\">312</Left>\n"
                                  "\t\t<Top Type=\"9\">-140</Top>\n"
                                  "\t</Main>\n"
                                  "</root>\n");
  const TWindowPosition Position = LoadWindowPosition(XmlName());
  EXPECT_EQ(Position.Left, 312);
  EXPECT_EQ(Position.Top, -140);
  EXPECT_TRUE(Recorder->shown().isEmpty());
}

// The twenty keys of a default rotator with their types and order, and
// "Rotators" appended after the other sections.
TEST_F(SettingsDocumentTest, DefaultRotatorIsWrittenWithAllTwentyKeys) {
  SaveWindowPosition(XmlName(), "1.0.0.1", 1, 2);
  TWorkspace Workspace;
  Workspace.AddDefault("Rotator1");
  SaveRotators(XmlName(), false, Workspace.Rotators, Workspace.Gs232s());
  EXPECT_EQ(FileBytes(XmlName()), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                  "<root>\n"
                                  "\t<Main>\n"
                                  "\t\t<Version Type=\"10\">1.0.0.1</Version>\n"
                                  "\t\t<Left Type=\"9\">1</Left>\n"
                                  "\t\t<Top Type=\"9\">2</Top>\n"
                                  "\t</Main>\n"
                                  "\t<CtrlTable>\n"
                                  "\t\t<Enable Type=\"2\">0</Enable>\n"
                                  "\t</CtrlTable>\n"
                                  "\t<Rotators>\n"
                                  "\t\t<Rotator_0>\n"
                                  "\t\t\t<Title Type=\"10\">Rotator1</Title>\n"
                                  "\t\t\t<MapFileName Type=\"10\"></MapFileName>\n"
                                  "\t\t\t<Enable Type=\"2\">0</Enable>\n"
                                  "\t\t\t<AutoActive Type=\"2\">0</AutoActive>\n"
                                  "\t\t\t<Model Type=\"10\">GS-232A</Model>\n"
                                  "\t\t\t<CenterPosition Type=\"9\">0</CenterPosition>\n"
                                  "\t\t\t<AzimuthAngle Type=\"9\">0</AzimuthAngle>\n"
                                  "\t\t\t<RotationSpeed Type=\"10\">4</RotationSpeed>\n"
                                  "\t\t\t<Home Type=\"9\">0</Home>\n"
                                  "\t\t\t<ReturnHome Type=\"2\">0</ReturnHome>\n"
                                  "\t\t\t<Offset Type=\"9\">0</Offset>\n"
                                  "\t\t\t<CommandB Type=\"10\"></CommandB>\n"
                                  "\t\t\t<CommandA Type=\"10\"></CommandA>\n"
                                  "\t\t\t<RelaysCount Type=\"9\">0</RelaysCount>\n"
                                  "\t\t\t<Port Type=\"10\">COM3</Port>\n"
                                  "\t\t\t<BaudRate Type=\"10\">9600</BaudRate>\n"
                                  "\t\t\t<DataBits Type=\"10\">8</DataBits>\n"
                                  "\t\t\t<Parity Type=\"10\">None</Parity>\n"
                                  "\t\t\t<StopBits Type=\"10\">1</StopBits>\n"
                                  "\t\t\t<FlowControl Type=\"10\">None</FlowControl>\n"
                                  "\t\t</Rotator_0>\n"
                                  "\t</Rotators>\n"
                                  "</root>\n");
  QStringList Keys;
  TXMLIniFile Ini(XmlName());
  ASSERT_TRUE(Ini.OpenNode("/Rotators/Rotator_0", false));
  Ini.GetNodeNames(Keys);
  EXPECT_EQ(Keys, RotatorKeys);
}

TEST_F(SettingsDocumentTest, EveryRotatorSettingRoundTrips) {
  TWorkspace Saved;
  Saved.CtrlTableEnable = true;
  TGs232 &First = Saved.Add(MakeRotatorBlock("Tower & <mast>", "/maps/a=b.bmp", true, false));
  First.SetModel("KELVANE");
  First.SetCenterPosition(cpSouth);
  First.SetAzimuthAngle(az450);
  First.SetRotationSpeed("2");
  First.SetHome(400, 0);
  First.SetReturnHome(true);
  First.SetOffset(-15, 0);
  First.SetCommandB("Y11,WAIT500");
  First.SetCommandA("Y10 \"S\"");
  First.RelayArray()->SetCount(8);
  First.SetPort("/dev/ttyUSB0");
  First.SetBaudRate("4800");
  First.SetDataBits("7");
  First.SetParity("Even");
  First.SetStopBits("2");
  First.SetFlowControl("Hardware");
  Saved.AddDefault("Rotator2");
  QStringList SecondBlock = BlockLines(Saved.Rotators[1]);
  SetBlockValue(SecondBlock, "AutoActive", "-1");
  Saved.Rotators[1] = BlockText(SecondBlock);
  SaveRotators(XmlName(), Saved.CtrlTableEnable, Saved.Rotators, Saved.Gs232s());

  TWorkspace Loaded = Load(XmlName());
  EXPECT_TRUE(Loaded.CtrlTableEnable);
  ASSERT_EQ(Loaded.Drivers.size(), 2u);
  EXPECT_EQ(Loaded.Rotators, Saved.Rotators);
  for (int I = 0; I < 2; ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(DriverSettings(*Loaded.Drivers[I]), DriverSettings(*Saved.Drivers[I]));
  }
  EXPECT_TRUE(Recorder->shown().isEmpty());
}

TEST_F(SettingsDocumentTest, EntryWithOnlyAPortTakesEveryOtherDefault) {
  WriteDocument("<root><Rotators><Rotator_0>"
                "<Port Type=\"10\">COM7</Port>"
                "</Rotator_0></Rotators></root>");
  const TWorkspace Loaded = Load(XmlName());
  ASSERT_EQ(Loaded.Drivers.size(), 1u);
  EXPECT_EQ(Loaded.Rotators[0], "Title=Rotator1\nMapFileName=\nEnable=0\nAutoActive=0\n");
  QStringList Expected = DefaultDriverSettings();
  Expected.replaceInStrings("Port=COM3", "Port=COM7");
  EXPECT_EQ(DriverSettings(*Loaded.Drivers[0]), Expected);
}

// A driver that had other settings gets every default, not just the keys
// present; elevation is switched off.
TEST_F(SettingsDocumentTest, LoadingOverwritesEverySettingOfTheDriver) {
  WriteDocument("<root><Rotators><R/></Rotators></root>");
  TXMLIniFile Ini(XmlName());
  TGs232 Gs232;
  Gs232.SetModel("KELVANE");
  Gs232.SetElEnable(true);
  Gs232.SetHome(90, 12);
  Gs232.RelayArray()->SetCount(4);
  QStringList Block{"stale"};
  QStringList Problems;
  ASSERT_TRUE(LoadRotatorEntry(Ini, 0, "Caption", Block, Gs232, Problems));
  EXPECT_EQ(Block, MakeRotatorBlock("Caption", "", false, false));
  EXPECT_EQ(DriverSettings(Gs232), DefaultDriverSettings());
  // No such entry: nothing is touched.
  Block = QStringList{"kept"};
  EXPECT_FALSE(LoadRotatorEntry(Ini, 1, "Caption", Block, Gs232, Problems));
  EXPECT_EQ(Block, QStringList{"kept"});
}

// Entry names carry no meaning: document order is rotator order, a repeated
// name is a rotator of its own, and saving renumbers from 0.
TEST_F(SettingsDocumentTest, EntriesLoadInDocumentOrderAndSaveRenumbered) {
  WriteDocument("<root><Rotators>"
                "<B><Title>First</Title><Port>COM1</Port></B>"
                "<A><Title>Second</Title><Port>COM2</Port></A>"
                "<Rotator_7><Title>Third</Title><Port>COM3</Port></Rotator_7>"
                "<A><Title>Fourth</Title><Port>COM4</Port></A>"
                "</Rotators><Main><Left>5</Left></Main></root>");
  const TWorkspace Loaded = Load(XmlName());
  ASSERT_EQ(Loaded.Drivers.size(), 4u);
  const char *Titles[] = {"First", "Second", "Third", "Fourth"};
  for (int I = 0; I < 4; ++I) {
    EXPECT_EQ(BlockValue(BlockLines(Loaded.Rotators[I]), "Title"), Titles[I]);
    EXPECT_EQ(Loaded.Drivers[I]->Port(), QStringLiteral("COM%1").arg(I + 1));
  }
  SaveRotators(XmlName(), false, Loaded.Rotators, Loaded.Gs232s());
  EXPECT_EQ(EntryNames(XmlName()),
            QStringList({"Rotator_0", "Rotator_1", "Rotator_2", "Rotator_3"}));
  const TWorkspace Reloaded = Load(XmlName());
  EXPECT_EQ(Reloaded.Rotators, Loaded.Rotators);
  TXMLIniFile Ini(XmlName());
  QStringList Sections;
  Ini.GetNodeNames(Sections);
  EXPECT_EQ(Sections, QStringList({"Main", "CtrlTable", "Rotators"}));
  EXPECT_EQ(Ini.ReadInteger("Left", 0, Ini.ChildNodeByName("Main")), 5);
}

// Hand-edited files: a second "Rotators" section must not collect the saved
// entries beside its old ones, and a line break in a title must not add or
// override lines of the rotator's block.
TEST_F(SettingsDocumentTest, HandEditedOdditiesDoNotCorruptTheRotators) {
  WriteDocument("<root><Rotators><A><Title>T&#10;Enable=-1</Title><Enable>0</Enable>"
                "<Port>COM1</Port></A></Rotators>"
                "<Rotators><B><Title>Old</Title><Port>COM9</Port></B></Rotators></root>");
  const TWorkspace Loaded = Load(XmlName());
  ASSERT_EQ(Loaded.Drivers.size(), 1u);
  const QStringList Block = BlockLines(Loaded.Rotators[0]);
  EXPECT_EQ(Block.size(), 4);
  EXPECT_FALSE(BlockBool(Block, "Enable"));
  EXPECT_EQ(BlockValue(Block, "Title"), "T Enable=-1");

  SaveRotators(XmlName(), false, Loaded.Rotators, Loaded.Gs232s());
  const TWorkspace Reloaded = Load(XmlName());
  ASSERT_EQ(Reloaded.Drivers.size(), 1u);
  EXPECT_EQ(Reloaded.Drivers[0]->Port(), "COM1");
  EXPECT_EQ(Reloaded.Rotators, Loaded.Rotators);
}

TEST_F(SettingsDocumentTest, SavingFewerRotatorsLeavesNoStaleEntries) {
  TWorkspace Workspace;
  for (const char *Title : {"One", "Two", "Three"})
    Workspace.AddDefault(Title);
  SaveRotators(XmlName(), false, Workspace.Rotators, Workspace.Gs232s());
  Workspace.Rotators.removeAt(0);
  Workspace.Drivers.erase(Workspace.Drivers.begin());
  SaveRotators(XmlName(), false, Workspace.Rotators, Workspace.Gs232s());
  EXPECT_EQ(EntryNames(XmlName()), QStringList({"Rotator_0", "Rotator_1"}));
  const TWorkspace Loaded = Load(XmlName());
  EXPECT_EQ(Loaded.Rotators, Workspace.Rotators);
}

// Booleans read as any number or True/False are written back as -1/0; an
// empty title becomes the tab caption and is saved as the title.
TEST_F(SettingsDocumentTest, BooleansAndEmptyTitlesAreNormalisedOnSave) {
  WriteDocument("<root><CtrlTable><Enable>True</Enable></CtrlTable><Rotators>"
                "<R><Title/><Enable>1</Enable><AutoActive>true</AutoActive>"
                "<ReturnHome>2.5</ReturnHome></R>"
                "</Rotators></root>");
  const TWorkspace Loaded = Load(XmlName());
  ASSERT_EQ(Loaded.Drivers.size(), 1u);
  EXPECT_TRUE(Loaded.CtrlTableEnable);
  EXPECT_EQ(Loaded.Rotators[0], "Title=Rotator1\nMapFileName=\nEnable=-1\nAutoActive=-1\n");
  EXPECT_TRUE(Loaded.Drivers[0]->ReturnHome());
  SaveRotators(XmlName(), Loaded.CtrlTableEnable, Loaded.Rotators, Loaded.Gs232s());
  TXMLIniFile Ini(XmlName());
  ASSERT_TRUE(Ini.OpenNode("/Rotators/Rotator_0", false));
  EXPECT_EQ(Ini.ReadString("Title", ""), "Rotator1");
  for (const char *Key : {"Enable", "AutoActive", "ReturnHome"})
    EXPECT_EQ(QString::fromUtf8(Ini.ChildNodeByName(Key).text().get()), "-1") << Key;
  ASSERT_TRUE(Ini.OpenNode("/CtrlTable", false));
  EXPECT_EQ(QString::fromUtf8(Ini.ChildNodeByName("Enable").text().get()), "-1");
}

TEST_F(SettingsDocumentTest, EnumerationsOutOfRangeTakeTheNearestValue) {
  const std::pair<const char *, int> Cases[] = {{"-3", 0}, {"0", 0}, {"1", 1}, {"7", 1}};
  QByteArray Entries;
  for (const auto &[Text, Expected] : Cases)
    Entries += QByteArray("<R><CenterPosition>") + Text + "</CenterPosition><AzimuthAngle>" + Text +
               "</AzimuthAngle></R>";
  WriteDocument("<root><Rotators>" + Entries + "</Rotators></root>");
  const TWorkspace Loaded = Load(XmlName());
  ASSERT_EQ(Loaded.Drivers.size(), std::size(Cases));
  for (size_t I = 0; I < std::size(Cases); ++I) {
    SCOPED_TRACE(Cases[I].first);
    EXPECT_EQ(int(Loaded.Drivers[I]->CenterPosition()), Cases[I].second);
    EXPECT_EQ(int(Loaded.Drivers[I]->AzimuthAngle()), Cases[I].second);
  }
  EXPECT_TRUE(Recorder->shown().isEmpty());
}

// A key that does not convert takes its default, everything after it still
// loads, and one message names the file, the sections and the keys.
TEST_F(SettingsDocumentTest, BadKeysTakeTheirDefaultsWithOneMessage) {
  WriteDocument("<root>"
                "<Main><Left>x</Left><Top>7</Top></Main>"
                "<CtrlTable><Enable>maybe</Enable></CtrlTable><Rotators>"
                "<B><Title>Tower</Title><Enable>yes</Enable><Home>abc</Home>"
                "<Offset>12</Offset><Port><Inner/></Port></B>"
                "<Second><Title>Mast</Title><Enable>-1</Enable><Port>COM9</Port></Second>"
                "</Rotators></root>");
  const QByteArray Before = FileBytes(XmlName());
  const TWorkspace Loaded = Load(XmlName());
  ASSERT_EQ(Loaded.Drivers.size(), 2u);
  EXPECT_FALSE(Loaded.CtrlTableEnable);
  EXPECT_EQ(Loaded.Rotators[0], "Title=Tower\nMapFileName=\nEnable=0\nAutoActive=0\n");
  EXPECT_EQ(Loaded.Drivers[0]->AzHomeD(), 0);
  EXPECT_EQ(Loaded.Drivers[0]->AzOffsetD(), 12);
  EXPECT_EQ(Loaded.Drivers[0]->Port(), "COM3");
  EXPECT_EQ(Loaded.Rotators[1], "Title=Mast\nMapFileName=\nEnable=-1\nAutoActive=0\n");
  EXPECT_EQ(Loaded.Drivers[1]->Port(), "COM9");

  const QStringList Shown = Recorder->shown();
  ASSERT_EQ(Shown.size(), 1);
  const QString Message = Shown[0];
  EXPECT_TRUE(Message.contains(QDir::toNativeSeparators(XmlName()))) << Message.toStdString();
  for (const char *Expected :
       {"/CtrlTable, key \"Enable\": 'maybe' is not a valid boolean value",
        "/Rotators/B, key \"Enable\": 'yes' is not a valid boolean value",
        "/Rotators/B, key \"Home\": 'abc' is not a valid integer value",
        "/Rotators/B, key \"Port\": Element \"Port\" does not contain a single text node"})
    EXPECT_TRUE(Message.contains(QString::fromUtf8(Expected))) << Expected;
  EXPECT_EQ(Message.count('\n'), 4);

  Recorder->clear();
  const TWindowPosition Position = LoadWindowPosition(XmlName());
  EXPECT_EQ(Position.Left, 0);
  EXPECT_EQ(Position.Top, 7);
  ASSERT_EQ(Recorder->shown().size(), 1);
  EXPECT_TRUE(
      Recorder->shown()[0].contains("/Main, key \"Left\": 'x' is not a valid integer value"));
  EXPECT_EQ(FileBytes(XmlName()), Before); // loading never writes
}

TEST_F(SettingsDocumentTest, MalformedDocumentIsNeverOverwritten) {
  const QByteArray Broken = "<?xml version=\"1.0\"?>\n<root><Rotators><Rotator_0>"
                            "<Title Type=\"10\">Keep me</Title></Rotators></root>\n";
  WriteFileBytes(XmlName(), Broken);
  TWorkspace Workspace;
  Workspace.AddDefault("New");
  EXPECT_THROW(LoadWindowPosition(XmlName()), TSettingsError);
  EXPECT_THROW(Load(XmlName()), TSettingsError);
  EXPECT_THROW(SaveWindowPosition(XmlName(), "1", 1, 2), TSettingsError);
  EXPECT_THROW(SaveRotators(XmlName(), true, Workspace.Rotators, Workspace.Gs232s()),
               TSettingsError);
  EXPECT_EQ(FileBytes(XmlName()), Broken);
  // Once the file is mended, saving works again.
  WriteDocument("<root/>");
  SaveRotators(XmlName(), true, Workspace.Rotators, Workspace.Gs232s());
  EXPECT_EQ(EntryNames(XmlName()), QStringList{"Rotator_0"});
}

// A save that can't write the file leaves the previous one complete: no
// half-written file, no file without "/Rotators".
TEST_F(SettingsDocumentTest, FailedSaveKeepsThePreviousFile) {
  const QString File = UnreplaceableName(Dir.path());
  WriteFileBytes(File, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root><Rotators>"
                       "<Rotator_0><Title>Old</Title></Rotator_0></Rotators></root>\n");
  const QByteArray Before = FileBytes(File);
  TWorkspace Workspace = Load(File);
  ASSERT_EQ(Workspace.Drivers.size(), 1u);
  Workspace.Rotators[0] = BlockText(MakeRotatorBlock("New", "", true, true));
  EXPECT_THROW(SaveRotators(File, true, Workspace.Rotators, Workspace.Gs232s()), TSettingsError);
  EXPECT_THROW(SaveWindowPosition(File, "1", 1, 2), TSettingsError);
  EXPECT_EQ(FileBytes(File), Before);
}

TEST_F(SettingsDocumentTest, RotatorBlocks) {
  const QStringList Block{"AutoActive=1", "MapFileName=C:\\maps\\a=b.bmp", "Title=", "Enable=True"};
  // The name ends at the first "=".
  EXPECT_EQ(BlockValue(Block, "MapFileName"), "C:\\maps\\a=b.bmp");
  EXPECT_EQ(BlockValue(Block, "Title"), "");
  EXPECT_EQ(BlockValue(Block, "Missing"), "");
  EXPECT_TRUE(BlockBool(Block, "AutoActive"));
  EXPECT_TRUE(BlockBool(Block, "Enable"));
  EXPECT_THROW(BlockBool(Block, "Title"), TConvertError);
  EXPECT_THROW(BlockBool(Block, "Missing"), TConvertError);

  QStringList Edited = Block;
  SetBlockValue(Edited, "Title", "a=b");
  SetBlockValue(Edited, "Extra", "x");
  EXPECT_EQ(Edited, QStringList({"AutoActive=1", "MapFileName=C:\\maps\\a=b.bmp", "Title=a=b",
                                 "Enable=True", "Extra=x"}));

  const QStringList Made = MakeRotatorBlock("T", "", true, false);
  EXPECT_EQ(Made, QStringList({"Title=T", "MapFileName=", "Enable=-1", "AutoActive=0"}));
  EXPECT_EQ(BlockLines(BlockText(Made)), Made);
  EXPECT_EQ(BlockLines("Title=T\r\nEnable=0\r\n"), QStringList({"Title=T", "Enable=0"}));
  EXPECT_EQ(BlockLines(""), QStringList());
}

// A rotator without a usable block is saved with an empty title and both
// Booleans false, and the save goes on to the next rotator.
TEST_F(SettingsDocumentTest, RotatorWithoutBlockIsSavedAsDisabled) {
  TWorkspace Workspace;
  Workspace.Add({});
  Workspace.Add(MakeRotatorBlock("Next", "", true, true));
  SaveRotators(XmlName(), false, Workspace.Rotators, Workspace.Gs232s());
  TXMLIniFile Ini(XmlName());
  ASSERT_TRUE(Ini.OpenNode("/Rotators/Rotator_0", false));
  EXPECT_EQ(Ini.ReadString("Title", "x"), "");
  EXPECT_FALSE(Ini.ReadBool("Enable", true));
  EXPECT_FALSE(Ini.ReadBool("AutoActive", true));
  ASSERT_TRUE(Ini.OpenNode("/Rotators/Rotator_1", false));
  EXPECT_TRUE(Ini.ReadBool("Enable", false));
}

TEST_F(SettingsDocumentTest, EmptyRotatorsSectionHasNoEntries) {
  WriteDocument("<root><Rotators>\n  </Rotators></root>");
  const TWorkspace Loaded = Load(XmlName());
  EXPECT_TRUE(Loaded.HasRotatorsSection);
  EXPECT_TRUE(Loaded.Drivers.empty());
}

TEST(SettingsFileNameTest, ExtensionReplacedOrAppended) {
  const std::pair<const char *, const char *> Cases[] = {
      {"/opt/orbalt/orbalt", "/opt/orbalt/orbalt.xml"},
      {"/opt/orbalt/orbalt.exe", "/opt/orbalt/orbalt.xml"},
      {"/opt/v1.2/orbalt", "/opt/v1.2/orbalt.xml"},
      {"/opt/orbalt/orbalt.tar.gz", "/opt/orbalt/orbalt.tar.xml"},
  };
  for (const auto &[AppName, Expected] : Cases)
    EXPECT_EQ(SettingsFileName(AppName), Expected);
}

} // namespace
