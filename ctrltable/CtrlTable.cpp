#include "ctrltable/CtrlTable.h"
#include "base/AtomicWrite.h"

#include <QDir>
#include <QFile>

#include <pugixml.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

const std::array<TCtrlFieldInfo, CtrlFieldCount> FieldInfos = {{
    {"LowerFreq", TCtrlFieldKind::Float, "r8", 0},
    {"UpperFreq", TCtrlFieldKind::Float, "r8", 0},
    {"Rotator", TCtrlFieldKind::Integer, "i4", 0},
    {"Offset", TCtrlFieldKind::Integer, "i4", 0},
    {"Title", TCtrlFieldKind::Text, "string", 8},
    {"Command1", TCtrlFieldKind::Text, "string", 128},
    {"Command2", TCtrlFieldKind::Text, "string", 128},
}};

constexpr TCtrlField AllFields[CtrlFieldCount] = {
    TCtrlField::LowerFreq, TCtrlField::UpperFreq, TCtrlField::Rotator, TCtrlField::Offset,
    TCtrlField::Title,     TCtrlField::Command1,  TCtrlField::Command2};

QString FieldName(TCtrlField Field) { return QString::fromLatin1(CtrlFieldInfo(Field).Name); }

QString NativeName(const QString &FileName) { return QDir::toNativeSeparators(FileName); }

// The whole text must be the number; no sign other than a leading minus.
std::optional<double> ParseFloat(const QByteArray &Text) {
  double Value = 0;
  const char *End = Text.constData() + Text.size();
  const auto [Ptr, Ec] = std::from_chars(Text.constData(), End, Value);
  if (Text.isEmpty() || Ec != std::errc() || Ptr != End || !std::isfinite(Value))
    return std::nullopt;
  return Value;
}

std::optional<int32_t> ParseInteger(const QByteArray &Text) {
  int32_t Value = 0;
  const char *End = Text.constData() + Text.size();
  const auto [Ptr, Ec] = std::from_chars(Text.constData(), End, Value, 10);
  if (Text.isEmpty() || Ec != std::errc() || Ptr != End)
    return std::nullopt;
  return Value;
}

// The number held by a numeric variant, or nothing for a variant of another type.
std::optional<double> NumericVariant(const QVariant &Value) {
  switch (Value.typeId()) {
  case QMetaType::Double:
  case QMetaType::Float:
  case QMetaType::Int:
  case QMetaType::UInt:
  case QMetaType::LongLong:
  case QMetaType::ULongLong:
  case QMetaType::Long:
  case QMetaType::ULong:
  case QMetaType::Short:
  case QMetaType::UShort:
    return Value.toDouble();
  default:
    return std::nullopt;
  }
}

// Attribute values: the five XML specials as named entities, CR, LF, tab
// and backslash as three-digit character references, everything else as it
// stands.
QByteArray EscapeAttribute(const QString &Text) {
  QString Out;
  Out.reserve(Text.size());
  for (const QChar C : Text) {
    switch (C.unicode()) {
    case u'<': Out += u"&lt;"; break;
    case u'>': Out += u"&gt;"; break;
    case u'&': Out += u"&amp;"; break;
    case u'\'': Out += u"&apos;"; break;
    case u'"': Out += u"&quot;"; break;
    case u'\r': Out += u"&#013;"; break;
    case u'\n': Out += u"&#010;"; break;
    case u'\t': Out += u"&#009;"; break;
    case u'\\': Out += u"&#092;"; break;
    default: Out += C; break;
    }
  }
  return Out.toUtf8();
}

struct TByteWriter : pugi::xml_writer {
  QByteArray Data;
  void write(const void *Bytes, size_t Size) override {
    Data.append(static_cast<const char *>(Bytes), static_cast<qsizetype>(Size));
  }
};

[[noreturn]] void Refuse(const QString &SourceName, const QString &Reason) {
  throw TCtrlTableError(
      QStringLiteral("\"%1\" is not a control table: %2").arg(SourceName, Reason));
}

// Reads the field list: each of the seven fields must be declared once, with
// its type code and, for texts, its width. Other fields are ignored.
void CheckFields(pugi::xml_node Fields, const QString &SourceName) {
  std::array<bool, CtrlFieldCount> Seen{};
  for (pugi::xml_node Field : Fields.children("FIELD")) {
    const QString Name = QString::fromUtf8(Field.attribute("attrname").value());
    for (int I = 0; I < CtrlFieldCount; ++I) {
      const TCtrlFieldInfo &Info = FieldInfos[I];
      if (Name != QLatin1String(Info.Name))
        continue;
      if (Seen[I])
        Refuse(SourceName, QStringLiteral("the field \"%1\" is declared twice").arg(Name));
      Seen[I] = true;
      const QString Type = QString::fromUtf8(Field.attribute("fieldtype").value());
      if (Type != QLatin1String(Info.TypeCode))
        Refuse(SourceName, QStringLiteral("the field \"%1\" has the type \"%2\" instead of \"%3\"")
                               .arg(Name, Type, QLatin1String(Info.TypeCode)));
      if (Info.Kind == TCtrlFieldKind::Text) {
        const QString Width = QString::fromUtf8(Field.attribute("WIDTH").value());
        if (Width.trimmed() != QString::number(Info.Width))
          Refuse(SourceName, QStringLiteral("the field \"%1\" has the width \"%2\" instead of %3")
                                 .arg(Name, Width)
                                 .arg(Info.Width));
      }
    }
  }
  for (int I = 0; I < CtrlFieldCount; ++I)
    if (!Seen[I])
      Refuse(SourceName,
             QStringLiteral("the field \"%1\" is missing").arg(QLatin1String(FieldInfos[I].Name)));
}

// A data packet may carry edits that were never merged: rows flagged by
// "RowState" (inserted, deleted, the original and the changed version of a
// modified row) and their order in "CHANGE_LOG". Taking such rows as they
// stand would resurrect deleted rows and double modified ones, so the file is
// refused instead; a "RowState" of 0 marks an unchanged row and is harmless.
void CheckNoChangeLog(pugi::xml_node Packet, const QString &SourceName) {
  const pugi::xml_attribute ChangeLog =
      Packet.child("METADATA").child("PARAMS").attribute("CHANGE_LOG");
  if (ChangeLog && !QByteArray(ChangeLog.value()).trimmed().isEmpty())
    Refuse(SourceName, QStringLiteral("it holds a change log (CHANGE_LOG) of unmerged edits"));
  int RowNumber = 0;
  for (pugi::xml_node Row : Packet.child("ROWDATA").children("ROW")) {
    ++RowNumber;
    const pugi::xml_attribute State = Row.attribute("RowState");
    if (State && QByteArray(State.value()).trimmed() != "0")
      Refuse(SourceName, QStringLiteral("row %1 is an unmerged edit (RowState \"%2\")")
                             .arg(RowNumber)
                             .arg(QString::fromUtf8(State.value())));
  }
}

} // namespace

TCtrlTableError::TCtrlTableError(const QString &Message)
    : std::runtime_error(Message.toUtf8().toStdString()) {}

const TCtrlFieldInfo &CtrlFieldInfo(TCtrlField Field) {
  return FieldInfos[static_cast<size_t>(Field)];
}

// --- Rows ---------------------------------------------------------------------------

bool TCtrlRow::IsEmpty() const { return *this == TCtrlRow(); }

bool TCtrlRow::Holds(double Freq) const {
  return LowerFreq && UpperFreq && *LowerFreq <= Freq && *UpperFreq >= Freq;
}

QVariant TCtrlRow::Value(TCtrlField Field) const {
  auto Wrap = [](const auto &Opt) { return Opt ? QVariant(*Opt) : QVariant(); };
  switch (Field) {
  case TCtrlField::LowerFreq: return Wrap(LowerFreq);
  case TCtrlField::UpperFreq: return Wrap(UpperFreq);
  case TCtrlField::Rotator: return Rotator ? QVariant(int(*Rotator)) : QVariant();
  case TCtrlField::Offset: return Offset ? QVariant(int(*Offset)) : QVariant();
  case TCtrlField::Title: return Wrap(Title);
  case TCtrlField::Command1: return Wrap(Command1);
  case TCtrlField::Command2: return Wrap(Command2);
  }
  return QVariant();
}

int CtrlTextWidth(const QString &Text) {
  int Width = 0;
  for (const char32_t C : Text.toUcs4())
    Width += (C < 0x80 || (C >= 0xFF61 && C <= 0xFF9F)) ? 1 : 2;
  return Width;
}

QString SetCtrlValue(TCtrlRow &Row, TCtrlField Field, const QVariant &Value, bool *TooLong) {
  const TCtrlFieldInfo &Info = CtrlFieldInfo(Field);
  const QString Name = FieldName(Field);
  const bool IsText = Value.typeId() == QMetaType::QString;
  const QString Text = IsText ? Value.toString() : QString();
  const bool Clear = !Value.isValid() || Value.isNull() ||
                     (IsText && (Info.Kind == TCtrlFieldKind::Text ? Text.isEmpty()
                                                                   : Text.trimmed().isEmpty()));

  switch (Info.Kind) {
  case TCtrlFieldKind::Float: {
    std::optional<double> Number;
    if (!Clear) {
      Number = IsText ? ParseFloat(Text.trimmed().toUtf8()) : NumericVariant(Value);
      if (!Number || !std::isfinite(*Number))
        return QStringLiteral("\"%1\" is not a valid floating point value for %2")
            .arg(Value.toString(), Name);
    }
    (Field == TCtrlField::LowerFreq ? Row.LowerFreq : Row.UpperFreq) = Number;
    return QString();
  }
  case TCtrlFieldKind::Integer: {
    std::optional<int32_t> Number;
    if (!Clear) {
      if (IsText) {
        Number = ParseInteger(Text.trimmed().toUtf8());
      } else if (const std::optional<double> D = NumericVariant(Value);
                 D && std::trunc(*D) == *D && *D >= std::numeric_limits<int32_t>::min() &&
                 *D <= std::numeric_limits<int32_t>::max()) {
        Number = static_cast<int32_t>(*D);
      }
      if (!Number)
        return QStringLiteral("\"%1\" is not a valid whole number for %2")
            .arg(Value.toString(), Name);
    }
    (Field == TCtrlField::Rotator ? Row.Rotator : Row.Offset) = Number;
    return QString();
  }
  case TCtrlFieldKind::Text: {
    std::optional<QString> Stored;
    if (!Clear) {
      if (!Value.canConvert<QString>())
        return QStringLiteral("The value is not a text for %1").arg(Name);
      if (const QString S = Value.toString(); !S.isEmpty())
        Stored = S;
      if (Stored && CtrlTextWidth(*Stored) > Info.Width) {
        if (!TooLong)
          return QStringLiteral("%1 holds at most %2 bytes").arg(Name).arg(Info.Width);
        *TooLong = true;
      }
    }
    (Field == TCtrlField::Title ? Row.Title
     : Field == TCtrlField::Command1 ? Row.Command1
                                     : Row.Command2) = Stored;
    return QString();
  }
  }
  return QString();
}

QString CtrlFloatText(double Value) {
  // Fixed notation needs up to 309 digits before and 324 after the point.
  char Buffer[800];
  const auto [Ptr, Ec] = std::to_chars(Buffer, Buffer + sizeof Buffer, Value,
                                       std::chars_format::fixed);
  return QString::fromLatin1(Buffer, Ec == std::errc() ? Ptr - Buffer : 0);
}

// --- Table --------------------------------------------------------------------------

const TCtrlRow *TCtrlTable::FindFrequency(double Freq) const {
  // The frequency as 15 significant digits: a binary neighbour of a decimal
  // bound (0.1 + 0.2 for 0.3) counts as that bound.
  char Buffer[64];
  const auto Written =
      std::to_chars(Buffer, Buffer + sizeof Buffer, Freq, std::chars_format::general, 15);
  double F = Freq;
  std::from_chars(Buffer, Written.ptr, F);
  for (const TCtrlRow &Row : Rows)
    if (Row.Holds(F))
      return &Row;
  return nullptr;
}

const TCtrlRow *TCtrlTable::DefaultRow() const {
  for (const TCtrlRow &Row : Rows)
    if (Row.LowerFreq == 0.0 && Row.UpperFreq == 0.0)
      return &Row;
  return nullptr;
}

QByteArray TCtrlTable::ToXml() const {
  pugi::xml_document Document;
  pugi::xml_node Declaration = Document.append_child(pugi::node_declaration);
  Declaration.append_attribute("version") = "1.0";
  Declaration.append_attribute("encoding") = "UTF-8";
  Declaration.append_attribute("standalone") = "yes";

  pugi::xml_node Packet = Document.append_child("DATAPACKET");
  Packet.append_attribute("Version") = "2.0";
  pugi::xml_node Metadata = Packet.append_child("METADATA");
  pugi::xml_node Fields = Metadata.append_child("FIELDS");
  for (const TCtrlFieldInfo &Info : FieldInfos) {
    pugi::xml_node Field = Fields.append_child("FIELD");
    Field.append_attribute("attrname") = Info.Name;
    Field.append_attribute("fieldtype") = Info.TypeCode;
    if (Info.Kind == TCtrlFieldKind::Text)
      Field.append_attribute("WIDTH") = Info.Width;
  }
  Metadata.append_child("PARAMS");

  // Values are escaped here and written without pugixml's own escaping,
  // which would use other forms for CR, LF and tab and none for the
  // apostrophe and the backslash.
  pugi::xml_node RowData = Packet.append_child("ROWDATA");
  for (const TCtrlRow &Row : Rows) {
    pugi::xml_node Element = RowData.append_child("ROW");
    for (TCtrlField Field : AllFields) {
      const QVariant Value = Row.Value(Field);
      if (!Value.isValid())
        continue;
      QByteArray Text;
      switch (CtrlFieldInfo(Field).Kind) {
      case TCtrlFieldKind::Float: Text = CtrlFloatText(Value.toDouble()).toLatin1(); break;
      case TCtrlFieldKind::Integer: Text = QByteArray::number(Value.toInt()); break;
      case TCtrlFieldKind::Text: Text = EscapeAttribute(Value.toString()); break;
      }
      Element.append_attribute(CtrlFieldInfo(Field).Name) = Text.constData();
    }
  }

  TByteWriter Writer;
  Document.save(Writer, "  ", pugi::format_indent | pugi::format_no_escapes,
                pugi::encoding_utf8);
  return Writer.Data;
}

TCtrlTable TCtrlTable::FromXml(const QByteArray &Xml, const QString &SourceName) {
  pugi::xml_document Document;
  const pugi::xml_parse_result Result = Document.load_buffer(
      Xml.constData(), static_cast<size_t>(Xml.size()), pugi::parse_default, pugi::encoding_auto);
  if (!Result)
    Refuse(SourceName, QStringLiteral("%1 at byte %2")
                           .arg(QString::fromUtf8(Result.description()))
                           .arg(Result.offset));

  const pugi::xml_node Packet = Document.document_element();
  if (QByteArray(Packet.name()) != "DATAPACKET")
    Refuse(SourceName, QStringLiteral("the root element is not DATAPACKET"));
  CheckFields(Packet.child("METADATA").child("FIELDS"), SourceName);
  CheckNoChangeLog(Packet, SourceName);

  TCtrlTable Table;
  QStringList Long;
  int RowNumber = 0;
  for (pugi::xml_node Element : Packet.child("ROWDATA").children()) {
    if (Element.type() != pugi::node_element)
      continue;
    if (QByteArray(Element.name()) != "ROW")
      Refuse(SourceName, QStringLiteral("ROWDATA holds the element \"%1\"")
                             .arg(QString::fromUtf8(Element.name())));
    ++RowNumber;
    TCtrlRow Row;
    for (TCtrlField Field : AllFields) {
      const pugi::xml_attribute Attribute = Element.attribute(CtrlFieldInfo(Field).Name);
      if (!Attribute)
        continue;
      bool TooLong = false;
      const QString Reason =
          SetCtrlValue(Row, Field, QString::fromUtf8(Attribute.value()), &TooLong);
      if (!Reason.isEmpty())
        Refuse(SourceName, QStringLiteral("row %1: %2").arg(RowNumber).arg(Reason));
      if (TooLong)
        Long << QStringLiteral("row %1: %2 (at most %3 bytes)")
                    .arg(RowNumber)
                    .arg(QLatin1String(CtrlFieldInfo(Field).Name))
                    .arg(CtrlFieldInfo(Field).Width);
    }
    Table.Rows.push_back(std::move(Row));
  }
  if (!Long.isEmpty())
    Table.FLoadNote = QStringLiteral("Some texts in \"%1\" are longer than their fields allow; "
                                     "they were loaded as they are:\n%2")
                          .arg(SourceName, Long.join(u'\n'));
  return Table;
}

void TCtrlTable::Load(const QString &FileName) {
  Rows.clear();
  FLoadNote.clear();
  QFile File(FileName);
  if (!File.exists())
    return;
  if (!File.open(QIODevice::ReadOnly))
    throw TCtrlTableError(QStringLiteral("Cannot read the control table \"%1\": %2")
                              .arg(NativeName(FileName), File.errorString()));
  const QByteArray Data = File.readAll();
  if (File.error() != QFileDevice::NoError)
    throw TCtrlTableError(QStringLiteral("Cannot read the control table \"%1\": %2")
                              .arg(NativeName(FileName), File.errorString()));
  *this = FromXml(Data, NativeName(FileName));
}

void TCtrlTable::Save(const QString &FileName) const {
  QString Error;
  if (!WriteFileAtomically(FileName, ToXml(), &Error))
    throw TCtrlTableError(QStringLiteral("Cannot write the control table \"%1\": %2")
                              .arg(NativeName(FileName), Error));
}
