// Loading the station from its settings document: the stored rotators in
// order with every setting, the default rotator of a document without
// rotators, names for untitled entries, keys that do not convert, and a
// document that can't be read, which must never be replaced afterwards.

#include "station/StationSeam.h"
#include "StationTestSupport.h"

using namespace station_test;

namespace {

// Every key away from its default, so that a setting that is dropped or
// taken from the wrong entry shows.
TRotatorSettings Mast() {
  TRotatorSettings S = TRotatorSettings::Defaults(QStringLiteral("Mast"));
  S.MapFileName = QStringLiteral("/maps/mast.bmp");
  S.Enable = true;
  S.AutoActive = true;
  S.Model = QStringLiteral("KELVANE");
  S.CenterPosition = cpSouth;
  S.AzimuthAngle = az450;
  S.RotationSpeed = QStringLiteral("2");
  S.Home = 400;
  S.ReturnHome = true;
  S.Offset = -12;
  S.CommandB = QStringLiteral("Y11,WAIT100");
  S.CommandA = QStringLiteral("Y10");
  S.RelaysCount = 4;
  S.Port = QStringLiteral("/dev/ttyUSB7");
  S.BaudRate = QStringLiteral("4800");
  S.DataBits = QStringLiteral("7");
  S.Parity = QStringLiteral("Even");
  S.StopBits = QStringLiteral("2");
  S.FlowControl = QStringLiteral("Hardware");
  return S;
}

TRotatorSettings Tower() {
  TRotatorSettings S = TRotatorSettings::Defaults(QStringLiteral("Tower"));
  S.Enable = true;
  S.Model = QStringLiteral("GS-232B");
  S.Home = 180;
  S.Offset = 5;
  S.Port = QStringLiteral("COM4");
  return S;
}

} // namespace

TEST_F(StationTest, StoredRotatorsLoadInOrderWithTheirSettings) {
  Store({Mast(), Tower()}, true);
  TStation &S = Load();
  ASSERT_EQ(S.RotatorCount(), 2);
  EXPECT_EQ(S.RotatorSettings(0), Held(Mast()));
  EXPECT_EQ(S.RotatorSettings(1), Held(Tower()));
  EXPECT_TRUE(S.CtrlTableEnable());
  EXPECT_EQ(S.CurrentRotator(), 0);
  EXPECT_EQ(Log, (QStringList{"added 0", "added 1"}));
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();
  // Loading opens nothing; that is the start's work.
  EXPECT_FALSE(TStationSeam::Driver(S, 0).Active());
}

TEST_F(StationTest, DocumentWithoutRotatorsGivesOneDefaultRotator) {
  struct TCase {
    const char *Name;
    std::function<void(const QString &File)> Write;
  };
  const TCase Cases[] = {
      {"no file", [](const QString &) {}},
      {"no rotator section",
       [](const QString &File) {
         TXMLIniFile Ini(File);
         Ini.OpenNode(QStringLiteral("/Main"), true);
         Ini.WriteInteger(QStringLiteral("Left"), 10);
         Ini.UpdateFile();
       }},
      {"rotator section without entries",
       [](const QString &File) {
         TXMLIniFile Ini(File);
         Ini.OpenNode(RotatorsSection, true);
         Ini.UpdateFile();
       }},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    QFile::remove(File());
    Case.Write(File());
    Log.clear();
    TStation &S = Load();
    ASSERT_EQ(S.RotatorCount(), 1);
    EXPECT_EQ(S.RotatorSettings(0), Held(TRotatorSettings::Defaults(QStringLiteral("Rotator1"))));
    EXPECT_EQ(Log, QStringList{"added 0"});
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();
  }
}

TEST_F(StationTest, UntitledEntryTakesTheNextFreeRotatorName) {
  // Counted from the rotators loaded before it.
  Store(Rotators({"Rotator3", "Rotator1", "", "Mast"}));
  TStation &S = Load();
  EXPECT_EQ(Titles(), (QStringList{"Rotator3", "Rotator1", "Rotator2", "Mast"}));
  // The rest of the untitled entry is its own.
  EXPECT_EQ(S.RotatorSettings(2).Port, "COM3");
}

// Keys that do not convert take their defaults and are raised together as
// one message; nothing is shown by the station itself.
TEST_F(StationTest, KeysThatDoNotConvertAreRaisedAsOneMessageAndTheRestLoads) {
  TRotatorSettings First = Tower();
  First.Title = QStringLiteral("First");
  TRotatorSettings Second = Tower();
  Second.Title = QStringLiteral("Second");
  Second.Port = QStringLiteral("COM5");
  Store({First, Second});
  {
    TXMLIniFile Ini(File());
    ASSERT_TRUE(Ini.OpenNode(RotatorsSection + QStringLiteral("/Rotator_0"), false));
    Ini.WriteString(QStringLiteral("Home"), QStringLiteral("north"));
    ASSERT_TRUE(Ini.OpenNode(RotatorsSection + QStringLiteral("/Rotator_1"), false));
    Ini.WriteString(QStringLiteral("Enable"), QStringLiteral("maybe"));
    ASSERT_TRUE(Ini.OpenNode(CtrlTableSection, false));
    Ini.WriteString(QStringLiteral("Enable"), QStringLiteral("often"));
    Ini.UpdateFile();
  }

  TStation &S = Load();
  ASSERT_EQ(Messages.size(), 1) << Messages.join('|').toStdString();
  EXPECT_TRUE(Messages[0].startsWith(QStringLiteral("Some settings in"))) << Messages[0].toStdString();
  EXPECT_EQ(MessageKinds[0], mkInformation);
  // One line per key, after the line that names the file.
  const QStringList Lines = Messages[0].split(u'\n');
  ASSERT_EQ(Lines.size(), 4) << Messages[0].toStdString();
  EXPECT_TRUE(Lines[0].contains(QStringLiteral("orbalt.xml"))) << Lines[0].toStdString();
  EXPECT_EQ(Lines.filter(QStringLiteral("\"Home\"")).size(), 1);
  EXPECT_EQ(Lines.filter(QStringLiteral("\"Enable\"")).size(), 2);
  EXPECT_EQ(Log, (QStringList{"added 0", "added 1"}));

  ASSERT_EQ(S.RotatorCount(), 2);
  TRotatorSettings ExpectedFirst = First;
  ExpectedFirst.Home = 0;
  TRotatorSettings ExpectedSecond = Second;
  ExpectedSecond.Enable = false;
  EXPECT_EQ(S.RotatorSettings(0), Held(ExpectedFirst));
  EXPECT_EQ(S.RotatorSettings(1), Held(ExpectedSecond));
  EXPECT_FALSE(S.CtrlTableEnable());
}

// A document that is not well-formed is kept as it is: the station has no
// rotators, and no later change, save or close may replace the file, also
// when an earlier load of it had succeeded.
TEST_F(StationTest, UnreadableDocumentThrowsAndIsNeverReplaced) {
  const QByteArray Malformed = "<?xml version=\"1.0\"?>\n<root><Rotators><Rotator_0>";
  for (const bool LoadedBefore : {false, true}) {
    SCOPED_TRACE(LoadedBefore ? "after a successful load" : "first load");
    QFile::remove(File());
    Store(Rotators({"A", "B"}));
    TStation &S = Make();
    if (LoadedBefore) {
      S.Load();
      ASSERT_EQ(S.RotatorCount(), 2);
    }
    {
      QFile F(File());
      ASSERT_TRUE(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
      F.write(Malformed);
    }
    Log.clear();
    EXPECT_THROW(S.Load(), TSettingsError);
    EXPECT_EQ(S.RotatorCount(), 0);
    // The rotators it had are released and reported, last first; nothing
    // else is raised.
    const QStringList Released =
        LoadedBefore ? QStringList{"removed 1", "removed 0"} : QStringList{};
    EXPECT_EQ(Log, Released) << Log.join('|').toStdString();

    // Writing it fails and says so; the insert itself is kept.
    EXPECT_THROW(S.SaveRotators(), TSettingsError);
    EXPECT_THROW(S.InsertRotator(0), TSettingsError);
    EXPECT_EQ(S.RotatorCount(), 1);
    S.SetCtrlTableEnable(true);
    EXPECT_THROW(S.SaveRotators(), TSettingsError);
    S.Close();
    EXPECT_EQ(Bytes(), Malformed);
    EXPECT_EQ(S.RotatorCount(), 0);
  }
}

// A control table whose stored text is wider than its field loads whole, and
// the operator is told once.
TEST_F(StationTest, ControlTableWithAnOverlongTextLoadsAndIsToldOnce) {
  Store({Tower()}, true);
  TCtrlTable Table;
  TCtrlRow Row;
  Row.LowerFreq = 7;
  Row.UpperFreq = 7.3;
  Row.Rotator = 1;
  Row.Title = QStringLiteral(u"無線局長室"); // ten bytes in a field of eight
  Table.Rows = {Row};
  Table.Save(QFileInfo(File()).absoluteDir().filePath(QStringLiteral("CtrlTable.xml")));
  TStation &S = Load();
  ASSERT_EQ(S.CtrlTable().RowCount(), 1);
  EXPECT_EQ(S.CtrlTable().Rows[0].Title, Row.Title);
  ASSERT_EQ(Messages.size(), 1) << Messages.join('|').toStdString();
  EXPECT_TRUE(Messages[0].contains(QStringLiteral("row 1: Title"))) << Messages[0].toStdString();
}
