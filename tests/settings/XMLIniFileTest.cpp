// The XML settings store: file creation and layout, paths, node operations,
// typed values and their round trips through the file, and failures.

#include "settings/XMLIniFile.h"
#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <climits>
#include <functional>

namespace {

class XMLIniFileTest : public ::testing::Test {
protected:
  QString Path(const QString &Name) const { return Dir.filePath(Name); }
  QTemporaryDir Dir;
};

const QByteArray EmptyDocument = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root></root>\n";

TEST_F(XMLIniFileTest, MissingFileIsCreatedAtOnceWithDeclarationAndEmptyRoot) {
  const QString File = Path("new.xml");
  {
    TXMLIniFile Ini(File);
    EXPECT_EQ(FileBytes(File), EmptyDocument);
    EXPECT_EQ(Ini.RootNodeName(), "root");
    EXPECT_EQ(Ini.CurrentLocationPath(), "/");
    // Keys written and not saved never reach the file.
    Ini.OpenNode("/Main", true);
    Ini.WriteInteger("Left", 5);
  }
  EXPECT_EQ(FileBytes(File), EmptyDocument);
}

TEST_F(XMLIniFileTest, EmptyFileNameWorksInMemoryOnly) {
  TXMLIniFile Ini("");
  ASSERT_TRUE(Ini.OpenNode("/Main", true));
  Ini.WriteString("Title", "x");
  EXPECT_EQ(Ini.ReadString("Title", ""), "x");
  Ini.UpdateFile();
  EXPECT_TRUE(QDir(Dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));
}

// Tabs, LF line breaks, one element a line, the "Type" attributes, a value
// escaped twice, an empty value with start and end tag.
TEST_F(XMLIniFileTest, SavedDocumentHasTheExactLayout) {
  const QString File = Path("layout.xml");
  TXMLIniFile Ini(File);
  Ini.OpenNode("/Main", true);
  Ini.WriteInteger("Left", 120);
  Ini.WriteInteger("Top", -8);
  Ini.CloseNode();
  Ini.OpenNode("/Rotators/Rotator_0", true);
  Ini.WriteString("Title", "Tower & mast");
  Ini.WriteBool("ReturnHome", true);
  Ini.WriteString("CommandA", "");
  Ini.CloseNode();
  Ini.UpdateFile();
  EXPECT_EQ(FileBytes(File), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                             "<root>\n"
                             "\t<Main>\n"
                             "\t\t<Left Type=\"9\">120</Left>\n"
                             "\t\t<Top Type=\"9\">-8</Top>\n"
                             "\t</Main>\n"
                             "\t<Rotators>\n"
                             "\t\t<Rotator_0>\n"
                             "\t\t\t<Title Type=\"10\">Tower &amp;amp; mast</Title>\n"
                             "\t\t\t<ReturnHome Type=\"2\">-1</ReturnHome>\n"
                             "\t\t\t<CommandA Type=\"10\"></CommandA>\n"
                             "\t\t</Rotator_0>\n"
                             "\t</Rotators>\n"
                             "</root>\n");
}

TEST_F(XMLIniFileTest, BinaryValuesBreakTheLineAfterEverySixteenthByte) {
  TXMLIniFile Ini("");
  QByteArray Eighteen;
  for (char Byte = 0; Byte < 18; ++Byte)
    Eighteen.append(Byte);
  Ini.WriteBinaryData("B0", QByteArray());
  Ini.WriteBinaryData("B16", Eighteen.left(16));
  Ini.WriteBinaryData("B18", Eighteen);
  auto Text = [&](const char *Key) {
    return QString::fromUtf8(Ini.ChildNodeByName(Key).text().get());
  };
  EXPECT_EQ(Text("B0"), "");
  EXPECT_EQ(Ini.GetNodeType("B0"), TXMLNodeType::xdtBinary);
  EXPECT_EQ(Text("B16"), "00,01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F");
  EXPECT_EQ(Text("B18"), "00,01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F,\r\n10,11");
}

// One case of the round-trip table: a key, the type its write records, the
// write and a check of what the read returns.
struct TRoundTrip {
  QString Name;
  TXMLNodeType Type;
  std::function<void(TXMLIniFile &, const QString &)> Write;
  std::function<void(const TXMLIniFile &, const QString &)> Check;
};

template <class T, class W, class R>
TRoundTrip Case(const QString &Name, TXMLNodeType Type, const T &Value, W Write, R Read) {
  return {Name, Type, [=](TXMLIniFile &Ini, const QString &Key) { Write(Ini, Key, Value); },
          [=](const TXMLIniFile &Ini, const QString &Key) { EXPECT_EQ(Read(Ini, Key), Value); }};
}

TRoundTrip String(const QString &Value) {
  return Case(
      "string " + Value, TXMLNodeType::xdtString, Value,
      [](TXMLIniFile &I, const QString &K, const QString &V) { I.WriteString(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadString(K, "default"); });
}
TRoundTrip Expand(const QString &Value) {
  return Case(
      "expand " + Value, TXMLNodeType::xdtExpandString, Value,
      [](TXMLIniFile &I, const QString &K, const QString &V) { I.WriteExpandString(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadExpandString(K, "default"); });
}
TRoundTrip Integer(int Value) {
  return Case(
      "integer " + QString::number(Value), TXMLNodeType::xdtInteger, Value,
      [](TXMLIniFile &I, const QString &K, int V) { I.WriteInteger(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadInteger(K, 12345); });
}
TRoundTrip Int64(qint64 Value) {
  return Case(
      "int64 " + QString::number(Value), TXMLNodeType::xdtInt64, Value,
      [](TXMLIniFile &I, const QString &K, qint64 V) { I.WriteInt64(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadInt64(K, 12345); });
}
TRoundTrip Bool(bool Value) {
  return Case(
      Value ? "bool true" : "bool false", TXMLNodeType::xdtBool, Value,
      [](TXMLIniFile &I, const QString &K, bool V) { I.WriteBool(K, V); },
      [=](const TXMLIniFile &I, const QString &K) { return I.ReadBool(K, !Value); });
}
TRoundTrip Float(double Value) {
  return Case(
      "float " + QString::number(Value, 'g', 17), TXMLNodeType::xdtFloat, Value,
      [](TXMLIniFile &I, const QString &K, double V) { I.WriteFloat(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadFloat(K, 12345); });
}
TRoundTrip Currency(qint64 Units) {
  return Case(
      "currency " + QString::number(Units), TXMLNodeType::xdtCurrency, TCurrency{Units},
      [](TXMLIniFile &I, const QString &K, TCurrency V) { I.WriteCurrency(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadCurrency(K, {12345}); });
}
TRoundTrip Date(const QDate &Value) {
  return Case(
      "date " + Value.toString(Qt::ISODate), TXMLNodeType::xdtDate, Value,
      [](TXMLIniFile &I, const QString &K, const QDate &V) { I.WriteDate(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadDate(K, QDate(2000, 1, 1)); });
}
TRoundTrip Time(const QTime &Value) {
  return Case(
      "time " + Value.toString(Qt::ISODateWithMs), TXMLNodeType::xdtTime, Value,
      [](TXMLIniFile &I, const QString &K, const QTime &V) { I.WriteTime(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadTime(K, QTime(1, 2, 3)); });
}
TRoundTrip DateTime(const QDateTime &Value) {
  return Case(
      "date-time " + Value.toString(Qt::ISODateWithMs), TXMLNodeType::xdtDateTime, Value,
      [](TXMLIniFile &I, const QString &K, const QDateTime &V) { I.WriteDateTime(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadDateTime(K, QDateTime()); });
}
TRoundTrip Binary(const QByteArray &Value) {
  return Case(
      "binary of " + QString::number(Value.size()), TXMLNodeType::xdtBinary, Value,
      [](TXMLIniFile &I, const QString &K, const QByteArray &V) { I.WriteBinaryData(K, V); },
      [](const TXMLIniFile &I, const QString &K) { return I.ReadBinaryData(K); });
}

QByteArray Bytes(int Count) {
  QByteArray Result;
  for (int I = 0; I < Count; ++I)
    Result.append(static_cast<char>(I * 37 + 11));
  return Result;
}

// Every value reads back as written, in the same store and from the file in a
// new store, and its key reports the type of its write.
TEST_F(XMLIniFileTest, EveryValueTypeRoundTripsThroughTheFile) {
  const TRoundTrip Cases[] = {
      String("A&B"),
      String("<a href=\"x\">&</a>"),
      String("already &amp; escaped"),
      String("upper &LT; case"),
      String("&quot;&gt;&lt;&amp;"),
      String(""),
      String(" "),
      String("Ünïcødé ✓ 北"),
      String("tab\tand line\nbreak"),
      String("carriage\rreturn, CR LF\r\nand LF CR\n\r"),
      String("\r"),
      String("\r\n"),
      String("\"C1:'a'\rCHAR(13)\""),
      Expand("%ORBALT_NEVER_DEFINED%\\maps & <more>"),
      Expand(""),
      Integer(0),
      Integer(-8),
      Integer(INT_MIN),
      Integer(INT_MAX),
      Int64(LLONG_MIN),
      Int64(LLONG_MAX),
      Int64(-(qint64(1) << 40)),
      Bool(true),
      Bool(false),
      Float(0.1),
      Float(-1.5e300),
      Float(1.0 / 3.0),
      Float(0.0),
      Currency(0),
      Currency(125000),
      Currency(-1),
      Currency(LLONG_MAX),
      Currency(LLONG_MIN),
      Date(QDate(2024, 2, 29)),
      Date(QDate(1899, 12, 30)),
      Time(QTime(13, 45, 10)),
      Time(QTime(0, 0)),
      Time(QTime(23, 59, 59, 999)),
      DateTime(QDateTime(QDate(2024, 3, 5), QTime(0, 0))),
      DateTime(QDateTime(QDate(2024, 3, 5), QTime(6, 7, 8, 9))),
      Binary(QByteArray()),
      Binary(Bytes(16)),
      Binary(Bytes(17)),
      Binary(Bytes(256)),
  };
  const QString File = Path("values.xml");
  auto Key = [](int Index) { return QStringLiteral("K%1").arg(Index); };
  {
    TXMLIniFile Ini(File);
    ASSERT_TRUE(Ini.OpenNode("/Values", true));
    for (int I = 0; I < int(std::size(Cases)); ++I)
      Cases[I].Write(Ini, Key(I));
    for (int I = 0; I < int(std::size(Cases)); ++I) {
      SCOPED_TRACE(Cases[I].Name.toStdString() + " (same store)");
      Cases[I].Check(Ini, Key(I));
    }
    Ini.UpdateFile();
  }
  TXMLIniFile Ini(File);
  ASSERT_TRUE(Ini.OpenNode("/Values", false));
  EXPECT_EQ(Ini.ChildNodesCount(), int(std::size(Cases)));
  for (int I = 0; I < int(std::size(Cases)); ++I) {
    SCOPED_TRACE(Cases[I].Name.toStdString() + " (from the file)");
    Cases[I].Check(Ini, Key(I));
    EXPECT_EQ(Ini.GetNodeType(Key(I)), Cases[I].Type);
  }
}

// Missing keys give the default; a key with empty text gives the default for
// some types, the empty text for strings and a conversion error for others.
TEST_F(XMLIniFileTest, MissingKeysAndEmptyTexts) {
  TXMLIniFile Ini("");
  Ini.WriteString("Empty", "");
  const QDate Day(2001, 2, 3);
  const QTime Clock(4, 5, 6);
  const QDateTime Moment(Day, Clock);
  for (const char *Key : {"Missing", "Empty"}) {
    SCOPED_TRACE(Key);
    EXPECT_EQ(Ini.ReadInteger(Key, 7), 7);
    EXPECT_EQ(Ini.ReadInt64(Key, 8), 8);
    EXPECT_EQ(Ini.ReadFloat(Key, 1.5), 1.5);
    EXPECT_EQ(Ini.ReadTime(Key, Clock), Clock);
    EXPECT_EQ(Ini.ReadBinaryData(Key), QByteArray());
  }
  EXPECT_EQ(Ini.ReadString("Missing", "dflt"), "dflt");
  EXPECT_EQ(Ini.ReadExpandString("Missing", "dflt"), "dflt");
  EXPECT_TRUE(Ini.ReadBool("Missing", true));
  EXPECT_EQ(Ini.ReadCurrency("Missing", {9}), TCurrency{9});
  EXPECT_EQ(Ini.ReadDate("Missing", Day), Day);
  EXPECT_EQ(Ini.ReadDateTime("Missing", Moment), Moment);

  EXPECT_EQ(Ini.ReadString("Empty", "dflt"), "");
  EXPECT_EQ(Ini.ReadExpandString("Empty", "dflt"), "");
  EXPECT_THROW(Ini.ReadBool("Empty", true), TConvertError);
  EXPECT_THROW(Ini.ReadCurrency("Empty", {9}), TConvertError);
  EXPECT_THROW(Ini.ReadDate("Empty", Day), TConvertError);
  EXPECT_THROW(Ini.ReadDateTime("Empty", Moment), TConvertError);
}

// Reads ignore the "Type" attribute; texts in the file decide.
TEST_F(XMLIniFileTest, ReadsConvertTheTextWhateverItsType) {
  const QString File = Path("texts.xml");
  WriteFileBytes(File, "<root><S>"
                       "<Hex Type=\"10\">0x1F</Hex><Dollar>$1f</Dollar><Blank> 31</Blank>"
                       "<Trailing> 31 </Trailing><Word>abc</Word>"
                       "<One>1</One><Two>2.5</Two><Up>TRUE</Up><Down>false</Down><Yes>yes</Yes>"
                       "<Bytes>0a, 0B ,,ff</Bytes><Cdata><![CDATA[a<b]]></Cdata>"
                       "</S></root>");
  TXMLIniFile Ini(File);
  ASSERT_TRUE(Ini.OpenNode("S", false));
  EXPECT_EQ(Ini.ReadInteger("Hex", 0), 31);
  EXPECT_EQ(Ini.ReadInteger("Dollar", 0), 31);
  EXPECT_EQ(Ini.ReadInteger("Blank", 0), 31);
  EXPECT_THROW(Ini.ReadInteger("Trailing", 0), TConvertError);
  EXPECT_THROW(Ini.ReadInteger("Word", 0), TConvertError);
  EXPECT_TRUE(Ini.ReadBool("One", false));
  EXPECT_TRUE(Ini.ReadBool("Two", false));
  EXPECT_TRUE(Ini.ReadBool("Up", false));
  EXPECT_FALSE(Ini.ReadBool("Down", true));
  EXPECT_THROW(Ini.ReadBool("Yes", false), TConvertError);
  EXPECT_EQ(Ini.ReadBinaryData("Bytes"), QByteArray::fromHex("0a0bff"));
  EXPECT_EQ(Ini.ReadString("Cdata", ""), "a<b");
}

TEST_F(XMLIniFileTest, ExpandStringsReplaceEnvironmentReferences) {
  qputenv("ORBALT_TEST_DIR", "/srv/maps");
  TXMLIniFile Ini("");
  Ini.WriteExpandString("Map", "%ORBALT_TEST_DIR%/a&b.bmp");
  EXPECT_EQ(Ini.ReadExpandString("Map", ""), "/srv/maps/a&b.bmp");
  EXPECT_EQ(Ini.ReadString("Map", ""), "%ORBALT_TEST_DIR%/a&b.bmp");
  qunsetenv("ORBALT_TEST_DIR");
}

TEST_F(XMLIniFileTest, RewritingAKeyKeepsItsPlaceAndTakesTheNewType) {
  TXMLIniFile Ini("");
  Ini.WriteInteger("A", 1);
  Ini.WriteInteger("B", 2);
  Ini.WriteString("A", "text");
  QStringList Names;
  Ini.GetNodeNames(Names);
  EXPECT_EQ(Names, QStringList({"A", "B"}));
  EXPECT_EQ(Ini.ReadString("A", ""), "text");
  EXPECT_EQ(Ini.GetNodeType("A"), TXMLNodeType::xdtString);
}

TEST_F(XMLIniFileTest, PathsRelativeAbsoluteAndCreated) {
  TXMLIniFile Ini("");
  // A failed open leaves the current node and path.
  EXPECT_FALSE(Ini.OpenNode("/Main", false));
  EXPECT_EQ(Ini.CurrentLocationPath(), "/");
  EXPECT_FALSE(Ini.NodeExists("/Main"));

  EXPECT_TRUE(Ini.OpenNode("/Main", true));
  EXPECT_EQ(Ini.CurrentLocationPath(), "/Main/");
  EXPECT_EQ(QString::fromUtf8(Ini.CurrentNode().name()), "Main");

  // Three new segments are created nested, once.
  ASSERT_TRUE(Ini.OpenNode("/a/b/c", true));
  ASSERT_TRUE(Ini.OpenNode("/a/b/c/", true));
  EXPECT_EQ(Ini.CurrentLocationPath(), "/a/b/c/");
  EXPECT_EQ(Ini.ChildNodesCount(Ini.RootNode()), 2);
  const pugi::xml_node A = Ini.ChildNodeByName("a", Ini.RootNode());
  EXPECT_EQ(Ini.ChildNodesCount(A), 1);
  EXPECT_EQ(Ini.ChildNodesCount(A.child("b")), 1);

  // Relative paths continue from the current path.
  ASSERT_TRUE(Ini.OpenNode("/Rotators", true));
  EXPECT_EQ(Ini.ExpandLocationPath("Rotator_1"), "/Rotators/Rotator_1/");
  EXPECT_FALSE(Ini.OpenNode("Rotator_1", false));
  EXPECT_EQ(Ini.CurrentLocationPath(), "/Rotators/");
  ASSERT_TRUE(Ini.OpenNode("Rotator_1", true));
  EXPECT_EQ(Ini.CurrentLocationPath(), "/Rotators/Rotator_1/");
  EXPECT_TRUE(Ini.NodeExists("/Rotators/Rotator_1"));

  // "/" is the root element.
  ASSERT_TRUE(Ini.OpenNode("/", false));
  EXPECT_EQ(Ini.CurrentNode(), Ini.RootNode());
  EXPECT_EQ(Ini.CurrentLocationPath(), "/");
}

TEST_F(XMLIniFileTest, RefusedNamesChangeNothing) {
  TXMLIniFile Ini("");
  ASSERT_TRUE(Ini.OpenNode("/Main", true));
  for (const char *Path : {"/x//y", "/x/a b", "/x/1st", "/x/a&b"}) {
    SCOPED_TRACE(Path);
    EXPECT_THROW(Ini.OpenNode(Path, true), TSettingsError);
    EXPECT_FALSE(Ini.NodeExists("/x"));
    EXPECT_EQ(Ini.CurrentLocationPath(), "/Main/");
  }
  EXPECT_THROW(Ini.WriteString("a b", "v"), TSettingsError);
  EXPECT_THROW(Ini.WriteInteger("", 1), TSettingsError);
  EXPECT_FALSE(Ini.CreateNode("a<b"));
  EXPECT_EQ(Ini.ChildNodesCount(), 0);
  EXPECT_FALSE(Ini.NodeExists("/Main//x"));
}

TEST_F(XMLIniFileTest, NodeOperations) {
  TXMLIniFile Ini("");
  ASSERT_TRUE(Ini.OpenNode("/S", true));
  EXPECT_FALSE(Ini.HasChildNodes());
  EXPECT_TRUE(Ini.CreateNode("Dup"));
  EXPECT_TRUE(Ini.CreateNode("Dup")); // a second element of the same name
  Ini.WriteInteger("Dup", 5);         // the first one is the key
  Ini.WriteString("Key", "v");
  EXPECT_TRUE(Ini.HasChildNodes());
  EXPECT_TRUE(Ini.HasChildNodes(Ini.ChildNodeByName("Key"))); // its text counts
  EXPECT_FALSE(Ini.HasChildNodes(Ini.ChildNodes(1)));         // the second Dup is empty

  QStringList Names{"kept"};
  Ini.GetNodeNames(Names);
  EXPECT_EQ(Names, QStringList({"kept", "Dup", "Dup", "Key"}));
  EXPECT_EQ(Ini.ChildNodesCount(), 3);
  EXPECT_EQ(QString::fromUtf8(Ini.ChildNodes(2).name()), "Key");
  EXPECT_THROW(Ini.ChildNodes(3), TSettingsError);
  EXPECT_THROW(Ini.ChildNodes(-1), TSettingsError);
  EXPECT_THROW(Ini.ChildNodeByName("None"), TSettingsError);
  EXPECT_THROW(Ini.GetNodeType("None"), TSettingsError);
  EXPECT_THROW(Ini.GetNodeType("Dup", Ini.ChildNodes(0)), TSettingsError); // no such child
  Ini.CreateNode("Untyped");
  EXPECT_THROW(Ini.GetNodeType("Untyped"), TSettingsError);

  EXPECT_TRUE(Ini.DeleteNode("None"));
  EXPECT_TRUE(Ini.DeleteNode("Dup"));
  EXPECT_EQ(Ini.ChildNodesCount(), 3);
  EXPECT_EQ(Ini.ReadInteger("Dup", -1), -1); // the second, empty Dup is left
}

// Deleting the section that holds the current node makes the root current;
// nothing points into the removed subtree afterwards.
TEST_F(XMLIniFileTest, DeletingTheCurrentSectionFallsBackToTheRoot) {
  TXMLIniFile Ini("");
  ASSERT_TRUE(Ini.OpenNode("/Rotators/Rotator_0", true));
  Ini.WriteInteger("Home", 1);
  EXPECT_TRUE(Ini.DeleteNode("Rotators", Ini.RootNode()));
  EXPECT_EQ(Ini.CurrentLocationPath(), "/");
  EXPECT_EQ(Ini.CurrentNode(), Ini.RootNode());
  EXPECT_FALSE(Ini.NodeExists("/Rotators"));
  Ini.WriteInteger("Home", 2);
  EXPECT_EQ(Ini.ReadInteger("Home", 0, Ini.RootNode()), 2);
}

TEST_F(XMLIniFileTest, KeyThatIsASectionHasNoText) {
  TXMLIniFile Ini("");
  ASSERT_TRUE(Ini.OpenNode("/S/Inner", true));
  Ini.WriteInteger("X", 1);
  ASSERT_TRUE(Ini.OpenNode("/S", false));
  try {
    Ini.ReadString("Inner", "");
    ADD_FAILURE() << "no error";
  } catch (const TSettingsError &E) {
    EXPECT_EQ(E.Message(), "Element \"Inner\" does not contain a single text node");
  }
  EXPECT_THROW(Ini.WriteString("Inner", "v"), TSettingsError);
  EXPECT_EQ(Ini.ReadInteger("X", 0, Ini.ChildNodeByName("Inner")), 1); // left intact
}

TEST_F(XMLIniFileTest, UpdateFileWritesOnlyAChangedDocument) {
  const QString File = Path("changed.xml");
  { TXMLIniFile Create(File); }
  TXMLIniFile Ini(File);
  WriteFileBytes(File, "<root><Other/></root>");
  ASSERT_TRUE(Ini.OpenNode("/", false));
  Ini.ReadInteger("Nothing", 0);
  Ini.UpdateFile(); // unchanged: the file is not touched
  EXPECT_EQ(FileBytes(File), "<root><Other/></root>");
  Ini.WriteInteger("Left", 1);
  EXPECT_TRUE(Ini.Modified());
  Ini.UpdateFile();
  EXPECT_FALSE(Ini.Modified());
  EXPECT_EQ(FileBytes(File), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                             "<root>\n\t<Left Type=\"9\">1</Left>\n</root>\n");
}

// A file as an editor might leave it: a byte-order mark, CR LF line breaks,
// indentation, a comment, another root name and a declaration naming another
// encoding.
TEST_F(XMLIniFileTest, LoadsForeignFilesAndDropsWhitespaceBetweenElements) {
  const QString File = Path("foreign.xml");
  WriteFileBytes(File, "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
                       "<settings>\r\n"
                       "  <!-- edited by hand -->\r\n"
                       "  <Main>\r\n"
                       "    <Left Type=\"9\">  12</Left>\r\n"
                       "    <Title>\xC3\x9C</Title>\r\n"
                       "  </Main>\r\n"
                       "</settings>\r\n");
  {
    TXMLIniFile Ini(File);
    EXPECT_EQ(Ini.RootNodeName(), "settings");
    ASSERT_TRUE(Ini.OpenNode("/Main", false));
    EXPECT_EQ(Ini.ChildNodesCount(), 2);
    EXPECT_EQ(Ini.ReadInteger("Left", 0), 12);
    EXPECT_EQ(Ini.ReadString("Title", ""), QString::fromUtf8("\xC3\x9C"));
    Ini.WriteInteger("Top", 3);
    Ini.UpdateFile();
  }
  // Saved as UTF-8 again and declared so.
  EXPECT_TRUE(FileBytes(File).startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<settings>"));
  TXMLIniFile Ini(File);
  ASSERT_TRUE(Ini.OpenNode("/Main", false));
  EXPECT_EQ(Ini.ReadString("Title", ""), QString::fromUtf8("\xC3\x9C"));
  EXPECT_EQ(Ini.ReadInteger("Top", 0), 3);
}

TEST_F(XMLIniFileTest, MalformedFileIsRefusedAndLeftUntouched) {
  const QString File = Path("broken.xml");
  const QByteArray Broken = "<root>\n\t<Main>\n\t\t<Left>1</Main>\n</root>\n";
  WriteFileBytes(File, Broken);
  try {
    TXMLIniFile Ini(File);
    ADD_FAILURE() << "no error";
  } catch (const TSettingsError &E) {
    EXPECT_TRUE(E.Message().contains(QDir::toNativeSeparators(File))) << E.what();
    EXPECT_TRUE(E.Message().contains("not well-formed")) << E.what();
    EXPECT_TRUE(E.Message().contains("line 3")) << E.what();
  }
  EXPECT_EQ(FileBytes(File), Broken);
  // An empty file is no document either.
  WriteFileBytes(File, "");
  EXPECT_THROW(TXMLIniFile{File}, TSettingsError);
  EXPECT_EQ(FileBytes(File), "");
}

// A document nested deeper than any the program writes is refused like a
// malformed one and left as it is; written back, every level would cost a tab
// on each of its lines, and a small file would grow without bound.
TEST_F(XMLIniFileTest, DocumentNestedTooDeeplyIsRefusedAndLeftUntouched) {
  const QString File = Path("deep.xml");
  auto Nested = [](int Depth) {
    QByteArray Text = "<?xml version=\"1.0\"?>";
    for (int I = 0; I < Depth; ++I)
      Text += "<a>";
    Text += "x";
    for (int I = 0; I < Depth; ++I)
      Text += "</a>";
    return Text;
  };
  // Deep, but within the limit: loaded, and written back as it was read.
  WriteFileBytes(File, Nested(256));
  {
    TXMLIniFile Ini(File);
    Ini.WriteString("Key", "value");
    Ini.UpdateFile();
  }
  EXPECT_LT(FileBytes(File).size(), 256 * 300);
  for (const int Depth : {257, 30000}) {
    SCOPED_TRACE(Depth);
    const QByteArray Deep = Nested(Depth);
    WriteFileBytes(File, Deep);
    try {
      TXMLIniFile Ini(File);
      ADD_FAILURE() << "no error";
    } catch (const TSettingsError &E) {
      EXPECT_TRUE(E.Message().contains("nested deeper than 256")) << E.what();
    }
    EXPECT_EQ(FileBytes(File), Deep);
  }
}

// Comments and processing instructions are not kept; a text they split is
// one text, which reads the same before a save and after it.
TEST_F(XMLIniFileTest, TextSplitByACommentReadsAsOneBeforeAndAfterASave) {
  const QString File = Path("commented.xml");
  WriteFileBytes(File, "<root><Port>/dev/<!-- the adapter -->ttyUSB<?pi x?>0</Port>"
                       "<Left Type=\"9\">1<!-- was 2 -->2</Left></root>");
  for (int Pass = 0; Pass < 2; ++Pass) {
    SCOPED_TRACE(Pass == 0 ? "as loaded" : "after a save");
    TXMLIniFile Ini(File);
    EXPECT_EQ(Ini.ReadString("Port", ""), "/dev/ttyUSB0");
    EXPECT_EQ(Ini.ReadInteger("Left", 0), 12);
    Ini.WriteString("Mark", QString::number(Pass));
    Ini.UpdateFile();
  }
}

TEST_F(XMLIniFileTest, UnreadableOrUncreatableFilesThrow) {
  // A folder where the file should be.
  ASSERT_TRUE(QDir(Dir.path()).mkdir("folder.xml"));
  EXPECT_THROW(TXMLIniFile{Path("folder.xml")}, TSettingsError);
  // A missing file whose folder is a regular file.
  WriteFileBytes(Path("plain"), "x");
  EXPECT_THROW(TXMLIniFile{Path("plain/settings.xml")}, TSettingsError);
  EXPECT_EQ(FileBytes(Path("plain")), "x");
}

TEST_F(XMLIniFileTest, FailedWriteKeepsThePreviousFile) {
  const QString File = UnreplaceableName(Dir.path());
  const QByteArray Old = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n"
                         "\t<Main>\n\t\t<Left Type=\"9\">1</Left>\n\t</Main>\n</root>\n";
  WriteFileBytes(File, Old);
  ASSERT_EQ(FileBytes(File), Old);
  TXMLIniFile Ini(File);
  ASSERT_TRUE(Ini.OpenNode("/Main", false));
  Ini.WriteInteger("Left", 2);
  try {
    Ini.UpdateFile();
    ADD_FAILURE() << "no error";
  } catch (const TSettingsError &E) {
    EXPECT_TRUE(E.Message().startsWith("Cannot write the settings file")) << E.what();
  }
  EXPECT_EQ(FileBytes(File), Old);
  EXPECT_TRUE(Ini.Modified());
  EXPECT_EQ(Ini.ReadInteger("Left", 0), 2);
  EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files).size(), 1); // no leftovers
}

} // namespace
