#pragma once
// The frequency control table: rows that map a radio frequency range to a
// rotator, a temporary azimuth offset and two command lists, and its file
// "CtrlTable.xml", an XML data packet.
//
// Rows stay in stored order (file order, then rows added in the order of
// adding). The frequency lookup walks them in that order, so when ranges
// overlap the row stored first wins; sorting is for display only.
//
// Every field may be empty. An empty number reads as 0 and an empty text as
// an empty string, but a row with an empty bound never matches a frequency
// and is never the default row.

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

// A control table file that can't be read or written, or is not a control
// table. The message names the file and the reason.
class TCtrlTableError : public std::runtime_error {
public:
  explicit TCtrlTableError(const QString &Message);
  QString Message() const { return QString::fromUtf8(what()); }
};

// The fields, in file and column order.
enum class TCtrlField { LowerFreq, UpperFreq, Rotator, Offset, Title, Command1, Command2 };
constexpr int CtrlFieldCount = 7;

enum class TCtrlFieldKind { Float, Integer, Text };

struct TCtrlFieldInfo {
  const char *Name;       // "LowerFreq", ...
  TCtrlFieldKind Kind;
  const char *TypeCode;   // "r8", "i4" or "string" in the file
  int Width;              // width of texts (CtrlTextWidth), 0 for numbers
};

const TCtrlFieldInfo &CtrlFieldInfo(TCtrlField Field);

struct TCtrlRow {
  std::optional<double> LowerFreq = std::nullopt;
  std::optional<double> UpperFreq = std::nullopt;
  std::optional<int32_t> Rotator = std::nullopt;
  std::optional<int32_t> Offset = std::nullopt;
  std::optional<QString> Title = std::nullopt;
  std::optional<QString> Command1 = std::nullopt;
  std::optional<QString> Command2 = std::nullopt;

  // No field has a value.
  bool IsEmpty() const;
  // Both bounds present and LowerFreq <= Freq <= UpperFreq.
  bool Holds(double Freq) const;

  // The field as a typed variant (double, int or QString); an invalid
  // QVariant when empty.
  QVariant Value(TCtrlField Field) const;

  friend bool operator==(const TCtrlRow &, const TCtrlRow &) = default;
};

// The width of a text as the table counts it, in bytes of the Japanese
// double-byte character set: ASCII and half-width katakana one each, every
// other character two.
int CtrlTextWidth(const QString &Text);

// Checks a value for a field and converts it: an invalid QVariant, or a text
// that is empty or only blanks for a number field, gives an empty field;
// numbers are read from their text with a point as the decimal separator
// (whole numbers only for Rotator and Offset, within 32 bits); texts must fit
// the field's width (CtrlTextWidth). On success sets Field of Row and
// returns an empty text; otherwise returns the reason and leaves Row alone.
// With TooLong given, a text wider than its field is taken all the same and
// *TooLong set, so that a stored value is never lost for its length.
QString SetCtrlValue(TCtrlRow &Row, TCtrlField Field, const QVariant &Value,
                     bool *TooLong = nullptr);

// Text form of a number as the file holds it: plain decimal digits with a
// point, as few as read back to the same double ("7", "14.35", "-0.5").
QString CtrlFloatText(double Value);

class TCtrlTable {
public:
  std::vector<TCtrlRow> Rows;

  int RowCount() const { return static_cast<int>(Rows.size()); }

  // The first row, in stored order, that holds the frequency, after the
  // frequency was rounded to 15 significant digits (so that 7.300000000000001
  // finds a row ending at 7.3); nullptr when none does.
  const TCtrlRow *FindFrequency(double Freq) const;
  // The default row: the first row whose bounds are both 0; nullptr if none.
  const TCtrlRow *DefaultRow() const;

  // Replaces the rows by those of the file; an absent file gives an empty
  // table. The rows are dropped before reading, so a file that is refused
  // leaves the table empty; throws TCtrlTableError then. Texts wider than
  // their field are loaded as they are and told in LoadNote.
  void Load(const QString &FileName);
  // What the last load took although it does not fit (texts wider than
  // their field), as one message for the operator; empty when nothing.
  QString LoadNote() const { return FLoadNote; }
  // Writes the table, replacing the file as a whole (the old file stays when
  // writing fails). Throws TCtrlTableError.
  void Save(const QString &FileName) const;

  // The data packet text of the table (UTF-8, with its declaration).
  QByteArray ToXml() const;
  // Reads a data packet. SourceName names it in messages. Throws
  // TCtrlTableError when the text is not a control table: not well-formed,
  // a missing field, a field of another type or width, a value that does not
  // convert, or a change log (rows edited but not merged). A text wider than
  // its field is taken and told in LoadNote.
  static TCtrlTable FromXml(const QByteArray &Xml, const QString &SourceName);

  // Tables are equal when their rows are.
  friend bool operator==(const TCtrlTable &A, const TCtrlTable &B) { return A.Rows == B.Rows; }

private:
  QString FLoadNote;
};
