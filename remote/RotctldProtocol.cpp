#include "remote/RotctldProtocol.h"

#include <QRegularExpression>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

struct TCommandName {
  TRotctldCommand Command;
  char Letter; // 0: reached by its long name only
  const char *Name;
};

const TCommandName CommandNames[] = {
    {TRotctldCommand::GetPos, 'p', "get_pos"},
    {TRotctldCommand::SetPos, 'P', "set_pos"},
    {TRotctldCommand::Stop, 'S', "stop"},
    {TRotctldCommand::Park, 'K', "park"},
    {TRotctldCommand::Move, 'M', "move"},
    {TRotctldCommand::SendCmd, 'w', "send_cmd"},
    {TRotctldCommand::GetInfo, '_', "get_info"},
    {TRotctldCommand::DumpCaps, '1', "dump_caps"},
    {TRotctldCommand::DumpState, 0, "dump_state"},
    {TRotctldCommand::GetStatus, 's', "get_status"},
    {TRotctldCommand::Quit, 'q', "quit"},
    {TRotctldCommand::Quit, 'Q', "quit"},
};

TRotctldCommand CommandOf(const QString &Token, bool LongName) {
  for (const TCommandName &Entry : CommandNames) {
    if (LongName ? Token == QLatin1String(Entry.Name)
                 : (Entry.Letter != 0 && Token.size() == 1 && Token[0] == QChar(Entry.Letter)))
      return Entry.Command;
  }
  return TRotctldCommand::Unknown;
}

// A punctuation character in front of a command chooses the extended
// response protocol; the backslash of long names, "?" and "_" (a command
// letter of its own) do not.
bool IsSeparatorPrefix(char Byte) {
  return Byte >= 0x21 && Byte <= 0x7E && !std::isalnum(static_cast<unsigned char>(Byte)) &&
         Byte != '\\' && Byte != '?' && Byte != '_';
}

} // namespace

QString RotctldLongName(TRotctldCommand Command) {
  for (const TCommandName &Entry : CommandNames)
    if (Entry.Command == Command)
      return QLatin1String(Entry.Name);
  return {};
}

bool RotctldByteAllowed(char Byte) {
  return Byte == '\t' || Byte == '\n' || Byte == '\r' || (Byte >= 0x20 && Byte <= 0x7E);
}

void RotctldDropNul(QByteArray &Input) {
  Input.removeIf([](char Byte) { return Byte == '\0'; });
}

qsizetype RotctldLineEnd(const QByteArray &Input) {
  const auto End = std::find_if(Input.begin(), Input.end(),
                                [](char Byte) { return Byte == '\n' || Byte == '\r'; });
  return End == Input.end() ? -1 : End - Input.begin();
}

bool RotctldLineAllowed(const QByteArray &Line) {
  return std::all_of(Line.begin(), Line.end(), RotctldByteAllowed);
}

std::optional<TRotctldRequest> ParseRotctldLine(const QByteArray &Line) {
  TRotctldRequest Request;
  QString Text = QString::fromLatin1(Line).trimmed();
  if (!Text.isEmpty() && IsSeparatorPrefix(Text[0].toLatin1())) {
    const char Prefix = Text[0].toLatin1();
    Request.Separator = Prefix == '+' ? '\n' : Prefix;
    Text = Text.mid(1).trimmed();
  }
  if (Text.isEmpty())
    return std::nullopt;

  static const QRegularExpression Blanks(QStringLiteral("[ \\t]+"));
  QStringList Words = Text.split(Blanks, Qt::SkipEmptyParts);
  QString Token = Words.takeFirst();
  const bool LongName = Token.startsWith(u'\\');
  if (LongName)
    Token.remove(0, 1);
  Request.Token = Token;
  Request.Command = CommandOf(Token, LongName);
  Request.Args = Words;
  // Everything after the command word, blanks inside kept.
  const qsizetype Start = Text.indexOf(Blanks);
  Request.ArgText = Start < 0 ? QString() : Text.mid(Start).trimmed();
  return Request;
}

std::optional<double> ParseRotctldNumber(const QString &Text) {
  static const QRegularExpression Number(
      QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d{1,3})?$"));
  if (Text.size() > 64 || !Number.match(Text).hasMatch())
    return std::nullopt;
  bool Ok = false;
  const double Value = Text.toDouble(&Ok);
  if (!Ok || !std::isfinite(Value))
    return std::nullopt;
  return Value;
}

std::optional<int> ParseRotctldInteger(const QString &Text) {
  static const QRegularExpression Integer(QStringLiteral("^[+-]?\\d{1,9}$"));
  if (!Integer.match(Text).hasMatch())
    return std::nullopt;
  return Text.toInt();
}

QString FormatRotctldNumber(double Value) { return QString::number(Value, 'f', 6); }

QByteArray RotctldReport(int Code) { return "RPRT " + QByteArray::number(Code) + '\n'; }

QString RotctldReportLine(int Code, const QString &Reason, char Separator) {
  QString Line = QStringLiteral("RPRT %1").arg(Code);
  if (Code == RotctldOk)
    return Line;
  QString Words;
  for (const QChar C : Reason)
    Words += C.isPrint() && C != QLatin1Char(Separator) ? C : QChar(u' ');
  Words = Words.simplified();
  if (Words.isEmpty())
    return Line;
  Line += u' ' + Words;
  // Cut by characters, so that no character is split.
  while (Line.toUtf8().size() > RotctldMaxReportLength || Line.back().isHighSurrogate())
    Line.chop(1);
  return Line;
}

QByteArray FormatRotctldReply(const TRotctldRequest &Request, const TRotctldReply &Reply) {
  if (Request.Separator == 0) {
    if (Reply.Code != RotctldOk || Reply.Values.empty())
      return (RotctldReportLine(Reply.Code, Reply.Reason) + u'\n').toUtf8();
    QByteArray Text;
    for (const auto &[Key, Value] : Reply.Values)
      Text += Value.toUtf8() + '\n';
    return Text;
  }

  QStringList Records;
  const QString Name = Request.Command == TRotctldCommand::Unknown
                           ? Request.Token
                           : RotctldLongName(Request.Command);
  Records.append(Request.ArgText.isEmpty() ? Name + u':' : Name + QStringLiteral(": ") +
                                                               Request.ArgText);
  if (Reply.Code == RotctldOk) {
    for (const auto &[Key, Value] : Reply.Values)
      Records.append(Key.isEmpty() ? Value : Key + QStringLiteral(": ") + Value);
  }
  Records.append(RotctldReportLine(Reply.Code, Reply.Reason, Request.Separator));
  const QChar Separator = QLatin1Char(Request.Separator);
  if (Separator == u'\n')
    return (Records.join(Separator) + Separator).toUtf8();
  return (Records.join(Separator) + u'\n').toUtf8();
}
