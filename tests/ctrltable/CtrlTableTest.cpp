// The control table: its file's exact text, round trips of values, refusal
// of files that are not a control table or carry unmerged edits, writes that
// fail part-way through, and the lookup of a frequency and of the default row.

#include "ctrltable/CtrlTable.h"
#include "common/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace {

QByteArray FileBytes(const QString &Path) {
  QFile File(Path);
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

void WriteBytes(const QString &Path, const QByteArray &Bytes) {
  QFile File(Path);
  ASSERT_TRUE(File.open(QIODevice::WriteOnly));
  ASSERT_EQ(File.write(Bytes), Bytes.size());
}

TCtrlRow MakeRow(std::optional<double> Lower, std::optional<double> Upper,
                 std::optional<int32_t> Rotator = std::nullopt,
                 std::optional<int32_t> Offset = std::nullopt,
                 std::optional<QString> Title = std::nullopt,
                 std::optional<QString> Command1 = std::nullopt,
                 std::optional<QString> Command2 = std::nullopt) {
  return TCtrlRow{Lower, Upper, Rotator, Offset, Title, Command1, Command2};
}

const QByteArray Head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                        "<DATAPACKET Version=\"2.0\">\n"
                        "  <METADATA>\n"
                        "    <FIELDS>\n"
                        "      <FIELD attrname=\"LowerFreq\" fieldtype=\"r8\" />\n"
                        "      <FIELD attrname=\"UpperFreq\" fieldtype=\"r8\" />\n"
                        "      <FIELD attrname=\"Rotator\" fieldtype=\"i4\" />\n"
                        "      <FIELD attrname=\"Offset\" fieldtype=\"i4\" />\n"
                        "      <FIELD attrname=\"Title\" fieldtype=\"string\" WIDTH=\"8\" />\n"
                        "      <FIELD attrname=\"Command1\" fieldtype=\"string\" WIDTH=\"128\" />\n"
                        "      <FIELD attrname=\"Command2\" fieldtype=\"string\" WIDTH=\"128\" />\n"
                        "    </FIELDS>\n"
                        "    <PARAMS />\n"
                        "  </METADATA>\n";

class CtrlTableFile : public ::testing::Test {
protected:
  QString Path(const QString &Name = QStringLiteral("CtrlTable.xml")) const {
    return Dir.filePath(Name);
  }
  QTemporaryDir Dir;
};

// Fields without a value have no attribute; numbers use a point and as few
// digits as read back exactly; texts are escaped character by character,
// and a multi-byte character is written as it stands.
TEST_F(CtrlTableFile, TwoRowTableIsWrittenAsThisExactText) {
  TCtrlTable Table;
  Table.Rows = {
      MakeRow(7, 7.3, 1, 10, "40m", "C1:Y11", "C1:Y10"),
      MakeRow(14.35, std::nullopt, std::nullopt, -5, QString::fromUtf8("\xCE\xA9"),
              "C2:'a\"b\\<>&\r\n\t'"),
  };
  Table.Save(Path());
  EXPECT_EQ(FileBytes(Path()),
            Head + "  <ROWDATA>\n"
                   "    <ROW LowerFreq=\"7\" UpperFreq=\"7.3\" Rotator=\"1\" Offset=\"10\" "
                   "Title=\"40m\" Command1=\"C1:Y11\" Command2=\"C1:Y10\" />\n"
                   "    <ROW LowerFreq=\"14.35\" Offset=\"-5\" Title=\"\xCE\xA9\" "
                   "Command1=\"C2:&apos;a&quot;b&#092;&lt;&gt;&amp;&#013;&#010;&#009;&apos;\" />\n"
                   "  </ROWDATA>\n"
                   "</DATAPACKET>\n");

  TCtrlTable Read;
  Read.Load(Path());
  EXPECT_EQ(Read, Table);
}

TEST_F(CtrlTableFile, EmptyTableHasTheFieldsAndNoRows) {
  TCtrlTable().Save(Path());
  EXPECT_EQ(FileBytes(Path()), Head + "  <ROWDATA />\n</DATAPACKET>\n");
}

TEST_F(CtrlTableFile, ValuesSurviveWritingAndReading) {
  const QString Command = QStringLiteral("C1:'it''s',\"Y11\" C2:\\x<y>&amp; \x01") +
                          QString::fromUtf8("\xE6\x97\xA5");
  TCtrlTable Table;
  Table.Rows = {MakeRow(0, 0, 0, 0, "", Command, QString(128, u'x')),
                MakeRow(0.1 + 0.2, 144000000.0, std::numeric_limits<int32_t>::max(),
                        std::numeric_limits<int32_t>::min(), "12345678"),
                MakeRow(-0.5, 1e-300, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                        "C1:Y10"),
                MakeRow(1.7976931348623157e308, 5e-324),
                MakeRow(std::nullopt, std::nullopt)};
  Table.Save(Path());
  TCtrlTable Read;
  Read.Load(Path());
  ASSERT_EQ(Read.RowCount(), 5);
  // An empty text is stored as no value.
  Table.Rows[0].Title.reset();
  EXPECT_EQ(Read, Table);
  EXPECT_EQ(*Read.Rows[0].Command1, Command);
}

TEST_F(CtrlTableFile, AbsentFileGivesAnEmptyTable) {
  TCtrlTable Table;
  Table.Rows = {MakeRow(1, 2)};
  Table.Load(Path("missing.xml"));
  EXPECT_EQ(Table.RowCount(), 0);
}

TEST_F(CtrlTableFile, ReaderMatchesFieldsByNameAndAcceptsAnyReference) {
  WriteBytes(Path(), "<?xml version=\"1.0\"?>"
                     "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
                     "<FIELD attrname=\"Command2\" fieldtype=\"string\" WIDTH=\"128\"/>"
                     "<FIELD attrname=\"Extra\" fieldtype=\"i4\"/>"
                     "<FIELD attrname=\"Title\" fieldtype=\"string\" WIDTH=\"8\"/>"
                     "<FIELD attrname=\"Offset\" fieldtype=\"i4\"/>"
                     "<FIELD attrname=\"LowerFreq\" fieldtype=\"r8\"/>"
                     "<FIELD attrname=\"Command1\" fieldtype=\"string\" WIDTH=\"128\"/>"
                     "<FIELD attrname=\"Rotator\" fieldtype=\"i4\"/>"
                     "<FIELD attrname=\"UpperFreq\" fieldtype=\"r8\"/>"
                     "</FIELDS><PARAMS CHANGE_LOG=\"\"/></METADATA><ROWDATA>"
                     "<ROW RowState=\"0\" Extra=\"9\" UpperFreq=\"7.3E0\" LowerFreq=\"7\" "
                     "Rotator=\"2\" Command1=\"C1:&#39;&#x5C;&#13;\"/>"
                     "</ROWDATA></DATAPACKET>");
  TCtrlTable Table;
  Table.Load(Path());
  ASSERT_EQ(Table.RowCount(), 1);
  EXPECT_EQ(Table.Rows[0], MakeRow(7, 7.3, 2, std::nullopt, std::nullopt, "C1:'\\\r"));
}

struct TRefusal {
  const char *Name;
  QByteArray From; // replaced in a good file
  QByteArray To;
  const char *Reason; // part of the message
};

// Each case spoils one thing of a good file; the whole file is refused, with
// a message that names the file and the fault, and the table is left empty.
TEST_F(CtrlTableFile, FileThatIsNotAControlTableIsRefused) {
  TCtrlTable Good;
  Good.Rows = {MakeRow(7, 7.3, 1, 10, "40m", "C1:Y11", "C1:Y10")};
  const QByteArray GoodText = Good.ToXml();
  const TRefusal Cases[] = {
      {"missing field", "<FIELD attrname=\"Title\" fieldtype=\"string\" WIDTH=\"8\" />", "",
       "the field \"Title\" is missing"},
      {"no field list", "FIELDS>", "FIELDZ>", "the field \"LowerFreq\" is missing"},
      {"number field as text", "attrname=\"Rotator\" fieldtype=\"i4\"",
       "attrname=\"Rotator\" fieldtype=\"string\" WIDTH=\"8\"",
       "\"Rotator\" has the type \"string\""},
      {"integer field as float", "attrname=\"Offset\" fieldtype=\"i4\"",
       "attrname=\"Offset\" fieldtype=\"r8\"", "\"Offset\" has the type \"r8\""},
      {"text field as number", "attrname=\"Title\" fieldtype=\"string\" WIDTH=\"8\"",
       "attrname=\"Title\" fieldtype=\"i4\"", "\"Title\" has the type \"i4\""},
      {"other width", "WIDTH=\"128\"", "WIDTH=\"64\"", "\"Command1\" has the width \"64\""},
      {"no width", "fieldtype=\"string\" WIDTH=\"8\"", "fieldtype=\"string\"",
       "\"Title\" has the width \"\""},
      {"declared twice", "</FIELDS>", "<FIELD attrname=\"Rotator\" fieldtype=\"i4\"/></FIELDS>",
       "\"Rotator\" is declared twice"},
      {"not a number", "LowerFreq=\"7\"", "LowerFreq=\"7,1\"", "row 1: \"7,1\" is not a valid"},
      {"not finite", "UpperFreq=\"7.3\"", "UpperFreq=\"inf\"", "row 1: \"inf\" is not a valid"},
      {"fraction in integer", "Offset=\"10\"", "Offset=\"1.5\"", "row 1: \"1.5\" is not a valid"},
      {"beyond 32 bits", "Rotator=\"1\"", "Rotator=\"2147483648\"", "\"2147483648\""},
      {"other element in rows", "<ROW ", "<RECORD/><ROW ", "\"RECORD\""},
      {"other root", "DATAPACKET", "PACKET", "root element"},
      {"not well-formed", "</ROWDATA>", "</ROWDATA", "is not a control table"},
  };
  for (const TRefusal &C : Cases) {
    SCOPED_TRACE(C.Name);
    QByteArray Text = GoodText;
    ASSERT_TRUE(Text.contains(C.From));
    Text.replace(C.From, C.To);
    WriteBytes(Path(), Text);
    TCtrlTable Table = Good;
    try {
      Table.Load(Path());
      ADD_FAILURE() << "accepted";
    } catch (const TCtrlTableError &E) {
      EXPECT_TRUE(E.Message().contains(Path())) << E.what();
      EXPECT_TRUE(E.Message().contains(QString::fromUtf8(C.Reason))) << E.what();
    }
    EXPECT_EQ(Table.RowCount(), 0);
  }
}

// Widths count as in the double-byte character set the table was made for:
// ASCII and half-width katakana one byte, other characters two. A stored
// text wider than its field is still loaded (and told once); an edit must fit.
TEST_F(CtrlTableFile, TextWidthsCountDoubleByteCharactersAndLongStoredTextsLoad) {
  struct TCase {
    const char *Name;
    QString Title;
    QString Command1;
    bool Fits;
  };
  const TCase Cases[] = {
      {"four kanji", QStringLiteral(u"無線局長"), QStringLiteral("C1:Y11"), true},
      {"eight half-width katakana", QStringLiteral(u"ｱﾝﾃﾅｱﾝﾃﾅ"), QStringLiteral("C1"), true},
      {"eight ASCII", QStringLiteral("12345678"), QString(128, u'x'), true},
      {"five kanji", QStringLiteral(u"無線局長室"), QStringLiteral("C1"), false},
      {"nine ASCII", QStringLiteral("123456789"), QStringLiteral("C1"), false},
      {"four kanji and a letter", QStringLiteral(u"無線局長x"), QStringLiteral("C1"), false},
      {"command of 129", QStringLiteral("40m"), QString(129, u'x'), false},
  };
  for (const TCase &C : Cases) {
    SCOPED_TRACE(C.Name);
    // An edit is checked against the width.
    TCtrlRow Edited;
    const QString TitleReason = SetCtrlValue(Edited, TCtrlField::Title, C.Title);
    const QString CommandReason = SetCtrlValue(Edited, TCtrlField::Command1, C.Command1);
    EXPECT_EQ(TitleReason.isEmpty() && CommandReason.isEmpty(), C.Fits)
        << TitleReason.toStdString() << CommandReason.toStdString();

    // A stored text loads whatever its width, and a wide one is told.
    TCtrlRow Row = MakeRow(7, 7.3, 1, 0, "x", "C1", "C2");
    Row.Title = C.Title;
    Row.Command1 = C.Command1;
    TCtrlTable Stored;
    Stored.Rows = {Row};
    WriteBytes(Path(), Stored.ToXml());
    TCtrlTable Table;
    ASSERT_NO_THROW(Table.Load(Path()));
    EXPECT_EQ(Table, Stored);
    EXPECT_EQ(Table.LoadNote().isEmpty(), C.Fits) << Table.LoadNote().toStdString();
    if (!C.Fits) {
      EXPECT_TRUE(Table.LoadNote().contains(Path()));
      EXPECT_TRUE(Table.LoadNote().contains(QStringLiteral("row 1: ")));
    }
  }
}

// Rows flagged as inserted, deleted or modified, or a change log in the
// parameters, are edits that were never merged: the file is refused rather
// than read as if every row were current. An unchanged row (0) is read.
TEST_F(CtrlTableFile, UnmergedEditsAreRefusedAndUnchangedRowsRead) {
  TCtrlTable Good;
  Good.Rows = {MakeRow(7, 7.3, 1), MakeRow(14, 14.35, 2)};
  const QByteArray GoodText = Good.ToXml();
  struct TCase {
    QByteArray From, To;
    bool Accepted;
    const char *Reason;
  };
  const TCase Cases[] = {
      {"<ROW LowerFreq=\"14\"", "<ROW RowState=\"0\" LowerFreq=\"14\"", true, ""},
      {"<ROW LowerFreq=\"14\"", "<ROW RowState=\"4\" LowerFreq=\"14\"", false,
       "row 2 is an unmerged edit (RowState \"4\")"},
      {"<ROW LowerFreq=\"7\"", "<ROW RowState=\"2\" LowerFreq=\"7\"", false, "row 1"},
      {"<ROW LowerFreq=\"14\"", "<ROW RowState=\"8\" LowerFreq=\"14\"", false, "RowState \"8\""},
      {"<PARAMS />", "<PARAMS CHANGE_LOG=\"2 1 4\" />", false, "CHANGE_LOG"},
  };
  for (const TCase &C : Cases) {
    SCOPED_TRACE(C.To.constData());
    QByteArray Text = GoodText;
    ASSERT_TRUE(Text.contains(C.From));
    WriteBytes(Path(), Text.replace(C.From, C.To));
    TCtrlTable Table;
    try {
      Table.Load(Path());
      EXPECT_TRUE(C.Accepted);
      EXPECT_EQ(Table, Good);
    } catch (const TCtrlTableError &E) {
      EXPECT_FALSE(C.Accepted) << E.what();
      EXPECT_TRUE(E.Message().contains(QString::fromUtf8(C.Reason))) << E.what();
    }
  }
}

TEST_F(CtrlTableFile, FailedWriteIsReportedWithTheFileName) {
  TCtrlTable Table;
  Table.Rows = {MakeRow(7, 7.3)};
  const QString Bad = Path("no/such/folder/CtrlTable.xml");
  try {
    Table.Save(Bad);
    ADD_FAILURE() << "no error";
  } catch (const TCtrlTableError &E) {
    EXPECT_TRUE(E.Message().startsWith("Cannot write the control table \"" + Bad + "\": "))
        << E.what();
  }
}

// A write that fails part-way through (the process may make no file larger
// than 1 KiB) leaves the previous table byte for byte and no temporary file,
// and the save says why: for a table that is written in one piece at the end
// as for one written in several.
TEST_F(CtrlTableFile, WriteFailingPartWayKeepsThePreviousTable) {
  constexpr rlim_t Limit = 1024;
  for (const int Count : {20, 400}) {
    SCOPED_TRACE(testing::Message() << Count << " rows");
    TCtrlTable Table;
    for (int I = 0; I < Count; ++I)
      Table.Rows.push_back(MakeRow(I, I + 0.5, I % 4, -I, QStringLiteral("Band%1").arg(I),
                                   QStringLiteral("Y11 WAIT100"), QStringLiteral("Y10")));
    Table.Save(Path());
    const QByteArray Before = FileBytes(Path());
    ASSERT_GT(Before.size(), qsizetype(Limit));
    Table.Rows.front().Title = QStringLiteral("Changed");
    std::optional<QString> Error;
    {
      TFileSizeLimit Limited(Limit);
      ASSERT_TRUE(Limited.Active());
      try {
        Table.Save(Path());
      } catch (const TCtrlTableError &E) {
        Error = E.Message();
      }
    }
    EXPECT_EQ(FileBytes(Path()), Before);
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList{"CtrlTable.xml"});
    ASSERT_TRUE(Error.has_value()) << "the failed write was not reported";
    EXPECT_TRUE(Error->startsWith("Cannot write the control table \"" + Path() + "\": "))
        << Error->toStdString();
    EXPECT_TRUE(Error->endsWith(QString::fromLocal8Bit(std::strerror(EFBIG))))
        << Error->toStdString();
  }
}

struct TLookup {
  double Freq;
  int Row; // index of the row found, -1 for none
};

TEST(CtrlTableLookup, FirstStoredRowHoldingTheFrequencyWins) {
  TCtrlTable Table;
  Table.Rows = {
      MakeRow(7.0, 7.3),                // 0
      MakeRow(7.1, 7.2),                // 1: inside row 0, never reached
      MakeRow(14.2, 14.35),             // 2
      MakeRow(0.3, std::nullopt),       // 3: an empty bound never matches
      MakeRow(std::nullopt, 100.0),     // 4
      MakeRow(21.45, 21.0),             // 5: reversed bounds never match
      MakeRow(0.1, 0.3),                // 6
      MakeRow(0, 0),                    // 7: the default row
  };
  const TLookup Cases[] = {
      {7.15, 0},
      {7.0, 0},
      {7.3, 0},
      {7.3000000000001, -1},
      // Single-precision neighbours of the decimal bounds lie outside them.
      {double(7.3f), -1},
      {double(14.2f), -1},
      {14.2, 2},
      // A double within 15 significant digits of a bound counts as the bound.
      {0.1 + 0.2, 6},
      {7.300000000000001, 0},
      {50.0, -1},
      {21.2, -1},
      {0.0, 7},
      {-1.0, -1},
      {std::nan(""), -1},
  };
  for (const TLookup &C : Cases) {
    SCOPED_TRACE(C.Freq);
    const TCtrlRow *Found = Table.FindFrequency(C.Freq);
    EXPECT_EQ(Found ? int(Found - Table.Rows.data()) : -1, C.Row);
  }
}

TEST(CtrlTableLookup, DefaultRowIsTheFirstWithBothBoundsZero) {
  TCtrlTable Table;
  EXPECT_EQ(Table.DefaultRow(), nullptr);
  Table.Rows = {MakeRow(0, std::nullopt), MakeRow(std::nullopt, 0), MakeRow(0, 1),
                MakeRow(-0.0, 0, 1), MakeRow(0, 0, 2)};
  ASSERT_NE(Table.DefaultRow(), nullptr);
  EXPECT_EQ(Table.DefaultRow()->Rotator, 1);
  // A frequency of 0 finds a row stored before the default row first.
  EXPECT_EQ(Table.FindFrequency(0), &Table.Rows[2]);
  Table.Rows.erase(Table.Rows.begin() + 3, Table.Rows.end());
  EXPECT_EQ(Table.DefaultRow(), nullptr);
}

} // namespace
