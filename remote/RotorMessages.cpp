#include "remote/RotorMessages.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <cmath>

std::optional<double> LenientNumber(const QString &Text) {
  static const QRegularExpression Leading(QStringLiteral("^\\s*([-+]?\\d+(?:\\.\\d+)?)"));
  const QRegularExpressionMatch Match = Leading.match(Text);
  if (!Match.hasMatch())
    return std::nullopt;
  bool Ok = false;
  const double Value = Match.captured(1).toDouble(&Ok);
  return Ok && std::isfinite(Value) ? std::optional<double>(Value) : std::nullopt;
}

namespace {

bool IsAzimuth(double Value) { return Value >= 0 && Value <= 360; }

} // namespace

std::variant<std::vector<TPstCommand>, QString> ParsePstMessage(const QByteArray &Datagram) {
  if (Datagram.size() > MaxRotorDatagram)
    return QStringLiteral("longer than %1 bytes").arg(MaxRotorDatagram);
  static const QRegularExpression Message(QStringLiteral("^\\s*<PST>(.*)</PST>\\s*$"),
                                          QRegularExpression::CaseInsensitiveOption |
                                              QRegularExpression::DotMatchesEverythingOption);
  const QRegularExpressionMatch Whole = Message.match(QString::fromLatin1(Datagram));
  if (!Whole.hasMatch())
    return QStringLiteral("not a <PST> message");
  const QString Body = Whole.captured(1).trimmed();
  std::vector<TPstCommand> Commands;
  if (Body.compare(QStringLiteral("AZ?"), Qt::CaseInsensitive) == 0)
    return std::vector<TPstCommand>{{TPstCommand::QueryAzimuth, 0, {}}};

  static const QRegularExpression Element(QStringLiteral("<([A-Za-z]+)>([^<]*)</\\1>"),
                                          QRegularExpression::CaseInsensitiveOption);
  for (auto It = Element.globalMatch(Body); It.hasNext();) {
    const QRegularExpressionMatch Match = It.next();
    const QString Tag = Match.captured(1).toUpper();
    const QString Value = Match.captured(2).trimmed();
    if (Tag == QLatin1String("AZIMUTH")) {
      const auto Degrees = LenientNumber(Value);
      if (!Degrees || !IsAzimuth(*Degrees))
        return QStringLiteral("azimuth \"%1\" is not 0 to 360").arg(Value.left(40));
      Commands.push_back({TPstCommand::Azimuth, *Degrees, {}});
    } else if (Tag == QLatin1String("STOP") || Tag == QLatin1String("PARK")) {
      if (LenientNumber(Value).value_or(0) == 1)
        Commands.push_back(
            {Tag == QLatin1String("STOP") ? TPstCommand::Stop : TPstCommand::Park, 0, {}});
    } else if (Tag == QLatin1String("QRA")) {
      if (Value.isEmpty())
        return QStringLiteral("an empty locator");
      Commands.push_back({TPstCommand::Locator, 0, Value.left(16)});
    }
  }
  if (Commands.empty())
    return QStringLiteral("nothing to do");
  return Commands;
}

std::variant<TN1mmRotorMessage, QString> ParseN1mmMessage(const QByteArray &Datagram) {
  if (Datagram.size() > MaxRotorDatagram)
    return QStringLiteral("longer than %1 bytes").arg(MaxRotorDatagram);
  QXmlStreamReader Xml(Datagram);
  TN1mmRotorMessage Message;
  QString GoAzimuth, Offset, FreqBand;
  bool Bidirectional = false, Root = false;
  int Depth = 0;
  while (!Xml.atEnd()) {
    Xml.readNext();
    if (Xml.isStartElement()) {
      ++Depth;
      const QString Name = Xml.name().toString().toLower();
      if (Depth == 1) {
        if (Name != QLatin1String("n1mmrotor"))
          return QStringLiteral("not an <N1MMRotor> message");
        Root = true;
      } else if (Name == QLatin1String("stop") && Depth == 2) {
        Message.Stop = true;
      } else if (Depth <= 3) {
        const QString Text = Xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        --Depth;
        if (Name == QLatin1String("rotor"))
          Message.Rotor = Text;
        else if (Name == QLatin1String("goazi"))
          GoAzimuth = Text;
        else if (Name == QLatin1String("offset"))
          Offset = Text;
        else if (Name == QLatin1String("bidirectional"))
          Bidirectional = LenientNumber(Text).value_or(0) != 0;
        else if (Name == QLatin1String("freqband"))
          FreqBand = Text;
      }
    } else if (Xml.isEndElement()) {
      --Depth;
    }
  }
  if (Xml.hasError())
    return QStringLiteral("not well-formed XML: %1").arg(Xml.errorString());
  if (!Root)
    return QStringLiteral("not an <N1MMRotor> message");
  if (Message.Rotor.isEmpty())
    return QStringLiteral("no rotor named");
  Message.Bidirectional = Bidirectional;
  if (!GoAzimuth.isEmpty()) {
    const auto Degrees = LenientNumber(GoAzimuth);
    if (!Degrees || !IsAzimuth(*Degrees))
      return QStringLiteral("heading \"%1\" is not 0 to 360").arg(GoAzimuth.left(40));
    Message.GoAzimuth = Degrees;
  }
  if (!Offset.isEmpty()) {
    const auto Degrees = LenientNumber(Offset);
    if (!Degrees || std::fabs(*Degrees) > 360)
      return QStringLiteral("offset \"%1\" is not -360 to 360").arg(Offset.left(40));
    Message.Offset = *Degrees;
  }
  if (!FreqBand.isEmpty()) {
    const auto MHz = LenientNumber(FreqBand);
    if (!MHz || *MHz <= 0 || *MHz > 1e6)
      return QStringLiteral("band \"%1\" is no frequency").arg(FreqBand.left(40));
    Message.FreqBandMHz = MHz;
  }
  if (!Message.Stop && !Message.GoAzimuth && !Message.FreqBandMHz)
    return QStringLiteral("neither a heading nor a stop");
  return Message;
}

QByteArray N1mmHeadingReport(const QString &Rotor, double Degrees) {
  return Rotor.toUtf8() + " @ " + QByteArray::number(std::lround(Degrees * 10));
}
