// The settings document: the window position, the control-table switch and
// the rotator entries, loaded and saved the way the station does it, the
// problems of a tolerant load as values, and saves whose writes fail part-way
// through (a file-size limit, a full file system).

#include "settings/SettingsDocument.h"
#include "settings/StationSettings.h"
#include "SettingsTestSupport.h"
#include "common/RotatorSettingsSamples.h"

#include "rotator/Gs232.h"
#include "common/FileSizeLimit.h"
#include "common/RecordingUiServices.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <optional>

#include <sys/mount.h>
#include <unistd.h>

// Readable problems in failure messages.
inline void PrintTo(const TLoadProblem &P, std::ostream *Out) {
  *Out << "{File=\"" << P.File.toStdString() << "\", Section=\"" << P.Section.toStdString()
       << "\", Key=\"" << P.Key.toStdString() << "\", Text=\"" << P.Text.toStdString() << "\"}";
}

namespace {

// A new rotator as the station makes it: the defaults taken by a driver,
// whose port spells the serial names its own way; saving writes what the
// driver gives back.
TRotatorSettings NewRotator(const QString &Title) {
  TGs232 Driver;
  Driver.ApplySettings(TRotatorSettings::Defaults(Title));
  return Driver.Settings();
}

// What loading gives the station.
struct TWorkspace {
  bool CtrlTableEnable = false;
  bool HasRotatorsSection = false;
  QList<TRotatorSettings> Rotators;
  TLoadProblems Problems;
};

// Loads the way the station does: the control-table switch, then every
// rotator entry in document order, an empty title taking the tab caption.
TWorkspace Load(const QString &XmlName) {
  TWorkspace Workspace;
  TXMLIniFile Ini(XmlName);
  Workspace.CtrlTableEnable = ReadCtrlTableEnable(Ini, Workspace.Problems);
  if (const auto Names = RotatorEntryNames(Ini)) {
    Workspace.HasRotatorsSection = true;
    for (int I = 0; I < Names->size(); ++I) {
      const std::optional<TRotatorSettings> Settings =
          ReadRotatorEntry(Ini, I, QStringLiteral("Rotator%1").arg(I + 1), Workspace.Problems);
      EXPECT_TRUE(Settings.has_value()) << I;
      Workspace.Rotators.append(Settings.value_or(TRotatorSettings{}));
    }
  }
  // The one pass the station loads with reads the same entries (an empty
  // title stays empty there) and notes the same problems.
  TLoadProblems OnePassProblems;
  TXMLIniFile Again(XmlName);
  ReadCtrlTableEnable(Again, OnePassProblems);
  const std::optional<QList<TRotatorSettings>> OnePass = ReadRotatorEntries(Again, OnePassProblems);
  EXPECT_EQ(OnePass.has_value(), Workspace.HasRotatorsSection);
  QList<TRotatorSettings> Titled = OnePass.value_or(QList<TRotatorSettings>());
  for (int I = 0; I < Titled.size(); ++I)
    if (Titled[I].Title.isEmpty())
      Titled[I].Title = QStringLiteral("Rotator%1").arg(I + 1);
  EXPECT_EQ(Titled, Workspace.Rotators);
  EXPECT_EQ(OnePassProblems, Workspace.Problems);
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
  // The settings layer returns its problems and never shows anything.
  void TearDown() override {
    EXPECT_TRUE(Recorder->shown().isEmpty()) << Recorder->shown().join('|').toStdString();
  }
  QTemporaryDir Dir;
  TScopedRecordingUi Recorder;
};

TEST_F(SettingsDocumentTest, FirstStartThenWindowPositionSaved) {
  TLoadProblems Problems;
  EXPECT_EQ(LoadWindowPosition(XmlName(), Problems).Left, 0);
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
  const TWindowPosition Position = LoadWindowPosition(XmlName(), Problems);
  EXPECT_EQ(Position.Left, 312);
  EXPECT_EQ(Position.Top, -140);
  EXPECT_TRUE(Problems.isEmpty());
  EXPECT_TRUE(Fresh.Problems.isEmpty());
}

// The twenty keys of a default rotator with their types and order, and
// "Rotators" appended after the other sections.
TEST_F(SettingsDocumentTest, DefaultRotatorIsWrittenWithAllTwentyKeys) {
  SaveWindowPosition(XmlName(), "1.0.0.1", 1, 2);
  SaveRotators(XmlName(), false, {NewRotator("Rotator1")});
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

struct TRoundTripCase {
  const char *What;
  TRotatorSettings Settings;
};

// Every value comes back as it was saved: the document neither normalises
// nor loses anything, and entries saved together keep their order and do not
// mix.
TEST_F(SettingsDocumentTest, EveryRotatorSettingRoundTrips) {
  const TRoundTripCase Cases[] = {
      {"every key away from its default", EveryKeyChanged()},
      {"new rotator opened at start",
       With(NewRotator("Rotator2"), [](TRotatorSettings &S) { S.AutoActive = true; })},
      {"Japanese text", With({}, [](TRotatorSettings &S) {
         S.Title = QStringLiteral(u"第一ローテーター（東）");
         S.MapFileName = QStringLiteral(u"C:\\地図\\アンテナ.bmp");
         S.Model = "GS-232B";
         S.CommandB = QStringLiteral(u"\"ＡＺ 回転\",Y11");
         S.Port = QStringLiteral(u"/dev/シリアル0");
       })},
      // A command list keeps its line breaks (they separate items); the
      // title and map file name are one line each, tested apart.
      {"command list with a line break", With({}, [](TRotatorSettings &S) {
         S.Title = "Upper Lower";
         S.CommandA = "S\n\tY10";
       })},
      // The document keeps what it is given; the driver holds the values to
      // what it can use.
      {"values the driver would change", With({}, [](TRotatorSettings &S) {
         S.Title = "Limits";
         S.Home = 400;
         S.Offset = INT_MIN;
         S.RelaysCount = 99;
         S.Model = "";
         S.RotationSpeed = "";
         S.Parity = "NONE";
         S.BaudRate = "12345";
       })},
      {"blanks, markup and entities kept as text", With({}, [](TRotatorSettings &S) {
         S.Title = "  padded  ";
         S.MapFileName = "a &amp; b &lt;c&gt; \"q\" 'x'";
         S.CommandB = "   ";
         S.CommandA = "<S/>";
       })},
  };
  QList<TRotatorSettings> Saved;
  for (const auto &C : Cases)
    Saved.append(C.Settings);
  SaveRotators(XmlName(), true, Saved);

  const TWorkspace Loaded = Load(XmlName());
  EXPECT_TRUE(Loaded.CtrlTableEnable);
  ASSERT_EQ(Loaded.Rotators.size(), Saved.size());
  for (qsizetype I = 0; I < Saved.size(); ++I) {
    SCOPED_TRACE(Cases[I].What);
    EXPECT_EQ(Loaded.Rotators[I], Saved[I]);
  }
  EXPECT_TRUE(Loaded.Problems.isEmpty());
}

TEST_F(SettingsDocumentTest, EntryWithOnlyAPortTakesEveryOtherDefault) {
  WriteDocument("<root><Rotators><Rotator_0>"
                "<Port Type=\"10\">COM7</Port>"
                "</Rotator_0></Rotators></root>");
  const TWorkspace Loaded = Load(XmlName());
  ASSERT_EQ(Loaded.Rotators.size(), 1);
  EXPECT_EQ(Loaded.Rotators[0],
            With(TRotatorSettings::Defaults("Rotator1"), [](TRotatorSettings &S) { S.Port = "COM7"; }));
  EXPECT_TRUE(Loaded.Problems.isEmpty());
}

// An entry without keys is the defaults with the caller's title; an entry
// that is not there is nothing, and notes no problem.
TEST_F(SettingsDocumentTest, EntryWithoutKeysIsTheDefaultsAndAMissingEntryIsNothing) {
  WriteDocument("<root><Rotators><R/></Rotators></root>");
  TXMLIniFile Ini(XmlName());
  TLoadProblems Problems;
  EXPECT_EQ(ReadRotatorEntry(Ini, 0, "Caption", Problems), TRotatorSettings::Defaults("Caption"));
  for (const int Index : {1, -1})
    EXPECT_EQ(ReadRotatorEntry(Ini, Index, "Caption", Problems), std::nullopt) << Index;
  EXPECT_TRUE(Problems.isEmpty());

  TXMLIniFile Bare(Dir.filePath("bare.xml"));
  EXPECT_EQ(ReadRotatorEntry(Bare, 0, "Caption", Problems), std::nullopt);
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
  ASSERT_EQ(Loaded.Rotators.size(), 4);
  const char *Titles[] = {"First", "Second", "Third", "Fourth"};
  for (int I = 0; I < 4; ++I) {
    EXPECT_EQ(Loaded.Rotators[I].Title, Titles[I]);
    EXPECT_EQ(Loaded.Rotators[I].Port, QStringLiteral("COM%1").arg(I + 1));
  }
  SaveRotators(XmlName(), false, Loaded.Rotators);
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
  ASSERT_EQ(Loaded.Rotators.size(), 1);
  // The line break becomes a blank: the title is one line, and one block line.
  EXPECT_EQ(Loaded.Rotators[0].Title, "T Enable=-1");
  EXPECT_FALSE(Loaded.Rotators[0].Enable);
  const QStringList Block = RotatorBlock(Loaded.Rotators[0]);
  EXPECT_EQ(Block.size(), 4);
  EXPECT_EQ(BlockValue(Block, "Enable"), "0");
  EXPECT_EQ(BlockValue(Block, "Title"), "T Enable=-1");

  SaveRotators(XmlName(), false, Loaded.Rotators);
  const TWorkspace Reloaded = Load(XmlName());
  ASSERT_EQ(Reloaded.Rotators.size(), 1);
  EXPECT_EQ(Reloaded.Rotators[0].Port, "COM1");
  EXPECT_EQ(Reloaded.Rotators, Loaded.Rotators);
}

TEST_F(SettingsDocumentTest, SavingFewerRotatorsLeavesNoStaleEntries) {
  QList<TRotatorSettings> Rotators;
  for (const char *Title : {"One", "Two", "Three"})
    Rotators.append(NewRotator(Title));
  SaveRotators(XmlName(), false, Rotators);
  Rotators.removeAt(0);
  SaveRotators(XmlName(), false, Rotators);
  EXPECT_EQ(EntryNames(XmlName()), QStringList({"Rotator_0", "Rotator_1"}));
  const TWorkspace Loaded = Load(XmlName());
  EXPECT_EQ(Loaded.Rotators, Rotators);
}

// Booleans read as any number or True/False are written back as -1/0; an
// empty title becomes the tab caption and is saved as the title.
TEST_F(SettingsDocumentTest, BooleansAndEmptyTitlesAreNormalisedOnSave) {
  WriteDocument("<root><CtrlTable><Enable>True</Enable></CtrlTable><Rotators>"
                "<R><Title/><Enable>1</Enable><AutoActive>true</AutoActive>"
                "<ReturnHome>2.5</ReturnHome></R>"
                "</Rotators></root>");
  const TWorkspace Loaded = Load(XmlName());
  ASSERT_EQ(Loaded.Rotators.size(), 1);
  EXPECT_TRUE(Loaded.CtrlTableEnable);
  EXPECT_EQ(Loaded.Rotators[0].Title, "Rotator1");
  EXPECT_TRUE(Loaded.Rotators[0].Enable);
  EXPECT_TRUE(Loaded.Rotators[0].AutoActive);
  EXPECT_TRUE(Loaded.Rotators[0].ReturnHome);
  SaveRotators(XmlName(), Loaded.CtrlTableEnable, Loaded.Rotators);
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
  ASSERT_EQ(Loaded.Rotators.size(), std::size(Cases));
  for (size_t I = 0; I < std::size(Cases); ++I) {
    SCOPED_TRACE(Cases[I].first);
    EXPECT_EQ(int(Loaded.Rotators[I].CenterPosition), Cases[I].second);
    EXPECT_EQ(int(Loaded.Rotators[I].AzimuthAngle), Cases[I].second);
  }
  EXPECT_TRUE(Loaded.Problems.isEmpty());
}

// A key that does not convert takes its default, everything after it still
// loads, and each such key is one problem value naming the file, the
// section and the key; the problems make one message.
TEST_F(SettingsDocumentTest, BadKeysTakeTheirDefaultsAndAreReportedAsProblems) {
  WriteDocument("<root>"
                "<Main><Left>x</Left><Top>7</Top></Main>"
                "<CtrlTable><Enable>maybe</Enable></CtrlTable><Rotators>"
                "<B><Title>Tower</Title><Enable>yes</Enable><Home>abc</Home>"
                "<Offset>12</Offset><Port><Inner/></Port></B>"
                "<Second><Title>Mast</Title><Enable>-1</Enable><Port>COM9</Port></Second>"
                "</Rotators></root>");
  const QByteArray Before = FileBytes(XmlName());
  const TWorkspace Loaded = Load(XmlName());
  ASSERT_EQ(Loaded.Rotators.size(), 2);
  EXPECT_FALSE(Loaded.CtrlTableEnable);
  EXPECT_EQ(Loaded.Rotators[0],
            With(TRotatorSettings::Defaults("Tower"), [](TRotatorSettings &S) { S.Offset = 12; }));
  EXPECT_EQ(Loaded.Rotators[1], With(TRotatorSettings::Defaults("Mast"), [](TRotatorSettings &S) {
              S.Enable = true;
              S.Port = "COM9";
            }));

  const QString File = XmlName();
  const TLoadProblems Expected = {
      {File, "/CtrlTable", "Enable", "'maybe' is not a valid boolean value"},
      {File, "/Rotators/B", "Enable", "'yes' is not a valid boolean value"},
      {File, "/Rotators/B", "Home", "'abc' is not a valid integer value"},
      {File, "/Rotators/B", "Port", "Element \"Port\" does not contain a single text node"},
  };
  EXPECT_EQ(Loaded.Problems, Expected);
  EXPECT_EQ(LoadProblemsMessage(Loaded.Problems),
            "Some settings in \"" + QDir::toNativeSeparators(File) +
                "\" could not be read and take their default values:\n"
                "/CtrlTable, key \"Enable\": 'maybe' is not a valid boolean value\n"
                "/Rotators/B, key \"Enable\": 'yes' is not a valid boolean value\n"
                "/Rotators/B, key \"Home\": 'abc' is not a valid integer value\n"
                "/Rotators/B, key \"Port\": Element \"Port\" does not contain a single text "
                "node");

  TLoadProblems Problems;
  const TWindowPosition Position = LoadWindowPosition(XmlName(), Problems);
  EXPECT_EQ(Position.Left, 0);
  EXPECT_EQ(Position.Top, 7);
  EXPECT_EQ(Problems, TLoadProblems({{File, "/Main", "Left", "'x' is not a valid integer value"}}));
  EXPECT_EQ(LoadProblemsMessage(Problems),
            "Some settings in \"" + QDir::toNativeSeparators(File) +
                "\" could not be read and take their default values:\n"
                "/Main, key \"Left\": 'x' is not a valid integer value");
  EXPECT_EQ(LoadProblemsMessage({}), "");
  EXPECT_EQ(FileBytes(XmlName()), Before); // loading never writes
}

TEST_F(SettingsDocumentTest, MalformedDocumentIsNeverOverwritten) {
  const QByteArray Broken = "<?xml version=\"1.0\"?>\n<root><Rotators><Rotator_0>"
                            "<Title Type=\"10\">Keep me</Title></Rotators></root>\n";
  WriteFileBytes(XmlName(), Broken);
  const QList<TRotatorSettings> Rotators = {NewRotator("New")};
  TLoadProblems Problems;
  EXPECT_THROW(LoadWindowPosition(XmlName(), Problems), TSettingsError);
  EXPECT_THROW(Load(XmlName()), TSettingsError);
  EXPECT_THROW(SaveWindowPosition(XmlName(), "1", 1, 2), TSettingsError);
  EXPECT_THROW(SaveRotators(XmlName(), true, Rotators), TSettingsError);
  EXPECT_EQ(FileBytes(XmlName()), Broken);
  // Once the file is mended, saving works again.
  WriteDocument("<root/>");
  SaveRotators(XmlName(), true, Rotators);
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
  ASSERT_EQ(Workspace.Rotators.size(), 1);
  Workspace.Rotators[0] = With(NewRotator("New"), [](TRotatorSettings &S) {
    S.Enable = true;
    S.AutoActive = true;
  });
  EXPECT_THROW(SaveRotators(File, true, Workspace.Rotators), TSettingsError);
  EXPECT_THROW(SaveWindowPosition(File, "1", 1, 2), TSettingsError);
  EXPECT_EQ(FileBytes(File), Before);
}

// What a folder holds besides its subfolders, hidden files included.
QStringList FilesIn(const QString &Folder) {
  return QDir(Folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// Count rotators with every key set, each near a kilobyte in the document.
QList<TRotatorSettings> ManyRotators(int Count) {
  QList<TRotatorSettings> Rotators;
  for (int I = 0; I < Count; ++I)
    Rotators.append(With(EveryKeyChanged(),
                         [I](TRotatorSettings &S) { S.Title = QStringLiteral("Tower%1").arg(I); }));
  return Rotators;
}

// The saves that replace a document holding Count rotators (from
// ManyRotators, the control table off): the station's rotators, the switch
// turned on, and the window's place.
struct TDocumentSave {
  const char *Name;
  std::function<void(const QString &XmlName, int Count)> Run;
};

const TDocumentSave DocumentSaves[] = {
    {"rotators",
     [](const QString &XmlName, int Count) { SaveRotators(XmlName, true, ManyRotators(Count)); }},
    {"window position",
     [](const QString &XmlName, int) { SaveWindowPosition(XmlName, "1", 10, 20); }},
};

// The message of the TSettingsError a save throws; none when it throws
// nothing.
std::optional<QString> SaveError(const std::function<void()> &Save) {
  try {
    Save();
  } catch (const TSettingsError &E) {
    return E.Message();
  }
  return std::nullopt;
}

// A write that fails part-way through (the process may make no file larger
// than 1 KiB) leaves the previous document byte for byte and no temporary
// file, and the save says why: for a document that is written in one piece at
// the end as for one written in several.
TEST_F(SettingsDocumentTest, WriteFailingPartWayKeepsThePreviousDocument) {
  constexpr rlim_t Limit = 1024;
  for (const int Count : {2, 40}) {
    SaveRotators(XmlName(), false, ManyRotators(Count));
    const QByteArray Before = FileBytes(XmlName());
    ASSERT_GT(Before.size(), qsizetype(Limit));
    for (const TDocumentSave &Save : DocumentSaves) {
      SCOPED_TRACE(testing::Message() << Count << " rotators, " << Save.Name);
      std::optional<QString> Error;
      {
        TFileSizeLimit Limited(Limit);
        ASSERT_TRUE(Limited.Active());
        Error = SaveError([&] { Save.Run(XmlName(), Count); });
      }
      EXPECT_EQ(FileBytes(XmlName()), Before);
      EXPECT_EQ(FilesIn(Dir.path()), QStringList{"orbalt.xml"});
      ASSERT_TRUE(Error.has_value()) << "the failed write was not reported";
      EXPECT_TRUE(Error->startsWith("Cannot write the settings file \"" + XmlName() + "\": "))
          << Error->toStdString();
      EXPECT_TRUE(Error->endsWith(QString::fromLocal8Bit(std::strerror(EFBIG))))
          << Error->toStdString();
    }
  }
}

// The settings document on a file system of its own, 64 KiB of tmpfs, that
// the test fills. Mounting one needs root (CAP_SYS_ADMIN); elsewhere the
// tests are skipped.
class SettingsOnSmallFileSystem : public SettingsDocumentTest {
protected:
  void SetUp() override {
    ASSERT_TRUE(QDir(Dir.path()).mkdir("small"));
    if (::mount("tmpfs", QFile::encodeName(Folder()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                "size=64k") != 0)
      GTEST_SKIP() << "a 64 KiB tmpfs can't be mounted here (" << std::strerror(errno)
                   << "): the test needs root or CAP_SYS_ADMIN";
    Mounted = true;
  }
  void TearDown() override {
    if (Mounted) {
      EXPECT_EQ(::umount2(QFile::encodeName(Folder()).constData(), MNT_DETACH), 0)
          << std::strerror(errno);
    }
    SettingsDocumentTest::TearDown();
  }

  QString Folder() const { return Dir.filePath("small"); }
  QString SmallXml() const { return Folder() + "/orbalt.xml"; }
  QString FillerName() const { return Folder() + "/filler"; }

  // Fills the file system until Free bytes (whole pages) are left.
  void FillUpTo(qint64 Free) {
    QFile Filler(FillerName());
    ASSERT_TRUE(Filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray Block(4096, 'f');
    while (Filler.write(Block) > 0) {
    }
    ASSERT_TRUE(Filler.resize(Filler.size() - Free));
    Filler.close();
    ASSERT_EQ(QStorageInfo(Folder()).bytesAvailable(), Free);
  }

  bool Mounted = false;
};

// The fault as it was met: the document on a file system with no room left,
// or room for its first page only. Each save fails, the previous document
// stays as it was, and no temporary file is left taking up the room.
TEST_F(SettingsOnSmallFileSystem, SaveThatDoesNotFitKeepsThePreviousDocument) {
  for (const qint64 Free : {0, 4096}) {
    SaveRotators(SmallXml(), false, ManyRotators(8));
    const QByteArray Before = FileBytes(SmallXml());
    ASSERT_GT(Before.size(), Free);
    FillUpTo(Free);
    for (const TDocumentSave &Save : DocumentSaves) {
      SCOPED_TRACE(testing::Message() << Free << " bytes free, " << Save.Name);
      const std::optional<QString> Error = SaveError([&] { Save.Run(SmallXml(), 8); });
      EXPECT_EQ(FileBytes(SmallXml()), Before);
      EXPECT_EQ(FilesIn(Folder()), (QStringList{"filler", "orbalt.xml"}));
      ASSERT_TRUE(Error.has_value()) << "the failed write was not reported";
      EXPECT_TRUE(Error->endsWith(QString::fromLocal8Bit(std::strerror(ENOSPC))))
          << Error->toStdString();
    }
    // With room again, the same document saves.
    ASSERT_TRUE(QFile::remove(FillerName()));
    SaveWindowPosition(SmallXml(), "1", 10, 20);
    TLoadProblems Problems;
    EXPECT_EQ(LoadWindowPosition(SmallXml(), Problems).Left, 10);
    EXPECT_EQ(Load(SmallXml()).Rotators.size(), 8);
  }
}

// A rotator without a title is saved with an empty title and both Booleans
// as given (the title is supplied only on loading), and the save goes on to
// the next rotator.
TEST_F(SettingsDocumentTest, UntitledRotatorIsSavedWithAnEmptyTitle) {
  const QList<TRotatorSettings> Rotators = {
      TRotatorSettings{}, With(NewRotator("Next"), [](TRotatorSettings &S) {
        S.Enable = true;
        S.AutoActive = true;
      })};
  SaveRotators(XmlName(), false, Rotators);
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
  EXPECT_TRUE(Loaded.Rotators.empty());
}

// The station section keeps what was typed, beside the rotators; unset
// coordinates stay unset, and a stored latitude that is no latitude is
// noted and left unset.
TEST_F(SettingsDocumentTest, StationSettingsRoundTripBesideTheRotators) {
  SaveRotators(XmlName(), false, {TRotatorSettings::Defaults("Tower")});
  TStationSettings Station;
  Station.Callsign = "DL1ABC";
  Station.Locator = "JO62qm";
  Station.Longitude = -71.25;
  Station.CountryFile = "/home/ham/cty & co/cty.dat";
  SaveStationSettings(XmlName(), Station);
  TLoadProblems Problems;
  EXPECT_EQ(LoadStationSettings(XmlName(), Problems), Station);
  EXPECT_TRUE(Problems.isEmpty());
  EXPECT_EQ(Load(XmlName()).Rotators.size(), 1u);

  WriteDocument("<root><Station><Latitude>95</Latitude><Longitude>x</Longitude>"
                "<Locator> JO62 </Locator></Station></root>");
  const TStationSettings Read = LoadStationSettings(XmlName(), Problems);
  EXPECT_FALSE(Read.Latitude);
  EXPECT_FALSE(Read.Longitude);
  EXPECT_EQ(Read.Locator, "JO62");
  ASSERT_EQ(Problems.size(), 2);
  EXPECT_EQ(Problems[0].Key, "Latitude");
  EXPECT_EQ(Problems[1].Key, "Longitude");
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

// The executable's own document is used only when it exists as a file;
// otherwise the one in the user's configuration folder, which follows
// XDG_CONFIG_HOME.
TEST(DefaultSettingsLocationTest, PortableDocumentBesideTheExecutableElseTheUsersFolder) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  const QString Config = Dir.filePath(QStringLiteral("config"));
  const QByteArray Saved = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(Config));
  const QString UserFile = Config + QStringLiteral("/orbalt/orbalt.xml");

  const QString Program = Dir.filePath(QStringLiteral("bin/orbalt"));
  ASSERT_TRUE(QDir(Dir.path()).mkpath(QStringLiteral("bin")));
  EXPECT_EQ(DefaultSettingsLocation(Program).File, UserFile);
  EXPECT_EQ(DefaultSettingsLocation(Program).Kind, TSettingsLocation::User);

  // A folder of that name is no document.
  ASSERT_TRUE(QDir(Dir.path()).mkpath(QStringLiteral("bin/orbalt.xml")));
  EXPECT_EQ(DefaultSettingsLocation(Program).File, UserFile);
  ASSERT_TRUE(QDir(Dir.path()).rmdir(QStringLiteral("bin/orbalt.xml")));

  QFile Beside(Dir.filePath(QStringLiteral("bin/orbalt.xml")));
  ASSERT_TRUE(Beside.open(QIODevice::WriteOnly));
  Beside.close();
  EXPECT_EQ(DefaultSettingsLocation(Program).File, Beside.fileName());
  EXPECT_EQ(DefaultSettingsLocation(Program).Kind, TSettingsLocation::Portable);

  // A document in a folder the user may not write is left to the system.
  if (::geteuid() != 0) { // the superuser may write anywhere
    ASSERT_TRUE(QFile::setPermissions(Dir.filePath(QStringLiteral("bin")),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    EXPECT_EQ(DefaultSettingsLocation(Program).File, UserFile);
    QFile::setPermissions(Dir.filePath(QStringLiteral("bin")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ExeOwner);
  }
  EXPECT_FALSE(QFileInfo::exists(Config)); // nothing created
  if (Saved.isNull())
    qunsetenv("XDG_CONFIG_HOME");
  else
    qputenv("XDG_CONFIG_HOME", Saved);
}

} // namespace
