#include "remote/WebApi.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>
#include <QUrl>

#include <cmath>

namespace {

TWebError Error(int Status, const QString &Text) { return {Status, Text}; }

// A rotator index in a path: digits only, no sign, within int.
std::optional<int> IndexOf(const QString &Text) {
  static const QRegularExpression Digits(QStringLiteral("^\\d{1,6}$"));
  if (!Digits.match(Text).hasMatch())
    return std::nullopt;
  return Text.toInt();
}

} // namespace

TWebRequestTarget WebRoute(const QByteArray &Method, const QString &Path) {
  const bool Get = Method == "GET" || Method == "HEAD";
  const bool Post = Method == "POST";
  const auto Pick = [&](TWebRoute Route, bool ByPost, int Index = -1) {
    if (ByPost ? !Post : !Get)
      return TWebRequestTarget{TWebRoute::WrongMethod, Index, ByPost};
    return TWebRequestTarget{Route, Index, ByPost};
  };
  if (Path == QLatin1String("/") || Path == QLatin1String("/index.html"))
    return Pick(TWebRoute::Page, false);
  if (Path == QLatin1String("/api/rotators"))
    return Pick(TWebRoute::List, false);
  if (Path == QLatin1String("/api/login"))
    return Pick(TWebRoute::Login, true);
  if (Path == QLatin1String("/api/logout"))
    return Pick(TWebRoute::Logout, true);
  if (Path == QLatin1String("/api/session"))
    return Pick(TWebRoute::Session, false);
  if (Path == QLatin1String("/api/events"))
    return Pick(TWebRoute::Events, false);

  const QString Prefix = QStringLiteral("/api/rotators/");
  if (!Path.startsWith(Prefix))
    return {};
  const QStringList Parts = Path.mid(Prefix.size()).split(u'/');
  const std::optional<int> Index = IndexOf(Parts.value(0));
  if (!Index || Parts.size() > 2)
    return {};
  if (Parts.size() == 1)
    return Pick(TWebRoute::Rotator, false, *Index);
  static const QList<std::pair<QString, TWebRoute>> Actions = {
      {QStringLiteral("target"), TWebRoute::Target},
      {QStringLiteral("stop"), TWebRoute::Stop},
      {QStringLiteral("turn"), TWebRoute::Turn},
      {QStringLiteral("home"), TWebRoute::Home},
      {QStringLiteral("turn-to"), TWebRoute::TurnTo}};
  for (const auto &[Name, Route] : Actions)
    if (Parts[1] == Name)
      return Pick(Route, true, *Index);
  return {};
}

QByteArray WebErrorBody(const QString &Text) {
  return QJsonDocument(QJsonObject{{QStringLiteral("error"), Text}}).toJson(QJsonDocument::Compact);
}

int WebStatusOf(TRefusal Refusal) {
  switch (Refusal) {
  case TRefusal::None:
    return 200;
  case TRefusal::NoRotator:
    return 404;
  case TRefusal::OutOfRange:
    return 422;
  case TRefusal::NotEnabled:
  case TRefusal::AlreadyOpen:
  case TRefusal::NotOpen:
  case TRefusal::PortHeld:
  case TRefusal::StationClosing:
    return 409;
  }
  return 409;
}

TWebError WebRefusal(const TActResult &Result) {
  return Error(WebStatusOf(Result.Refusal), Result.Reason);
}

QJsonObject WebRotatorJson(int Index, const TRotatorStatus &Status) {
  return QJsonObject{
      {QStringLiteral("index"), Index},
      {QStringLiteral("title"), Status.Title},
      {QStringLiteral("enabled"), Status.Enabled},
      {QStringLiteral("open"), Status.Open},
      {QStringLiteral("responding"), Status.Open && Status.Responding},
      {QStringLiteral("azimuth"), Status.Azimuth},
      {QStringLiteral("target"),
       Status.Target ? QJsonValue(*Status.Target) : QJsonValue(QJsonValue::Null)},
      {QStringLiteral("moving"), Status.Moving},
      {QStringLiteral("maxAzimuth"), Status.MaxAzimuth},
  };
}

std::variant<QJsonObject, TWebError> WebJsonObject(const QByteArray &Body) {
  if (Body.size() > WebMaxBody)
    return Error(413, QStringLiteral("The body is larger than %1 bytes").arg(WebMaxBody));
  if (Body.trimmed().isEmpty())
    return QJsonObject();
  QJsonParseError Parse;
  const QJsonDocument Document = QJsonDocument::fromJson(Body, &Parse);
  if (Parse.error != QJsonParseError::NoError)
    return Error(400, QStringLiteral("The body is not JSON: %1").arg(Parse.errorString()));
  if (!Document.isObject())
    return Error(400, QStringLiteral("The body is not a JSON object"));
  return Document.object();
}

std::variant<TWebTarget, TWebError> WebTargetOf(const QJsonObject &Body) {
  const QJsonValue Azimuth = Body.value(QStringLiteral("azimuth"));
  if (!Azimuth.isDouble())
    return Error(400, QStringLiteral("\"azimuth\" must be a number of degrees"));
  if (Body.contains(QStringLiteral("elevation")))
    return Error(422, QStringLiteral("The rotators turn in azimuth only"));
  return TWebTarget{Azimuth.toDouble()};
}

std::variant<TTurn, TWebError> WebTurnOf(const QJsonObject &Body) {
  const QJsonValue Direction = Body.value(QStringLiteral("direction"));
  if (Direction == QJsonValue(QStringLiteral("cw")))
    return TTurn::Clockwise;
  if (Direction == QJsonValue(QStringLiteral("ccw")))
    return TTurn::CounterClockwise;
  return Error(400, QStringLiteral("\"direction\" must be \"cw\" or \"ccw\""));
}

std::variant<TWebTurnTo, TWebError> WebTurnToOf(const QJsonObject &Body) {
  const QJsonValue Place = Body.value(QStringLiteral("place"));
  if (!Place.isString() || Place.toString().trimmed().isEmpty())
    return Error(400, QStringLiteral("\"place\" must be a locator or a call"));
  const QJsonValue LongPath = Body.value(QStringLiteral("longPath"));
  if (!LongPath.isUndefined() && !LongPath.isBool())
    return Error(400, QStringLiteral("\"longPath\" must be true or false"));
  return TWebTurnTo{Place.toString().trimmed(), LongPath.toBool(false)};
}

std::variant<QString, TWebError> WebPasswordOf(const QJsonObject &Body) {
  const QJsonValue Password = Body.value(QStringLiteral("password"));
  if (!Password.isString())
    return Error(400, QStringLiteral("\"password\" must be a text"));
  return Password.toString();
}

bool WebIsJson(const QByteArray &ContentType) {
  const QByteArray Type = ContentType.split(';').value(0).trimmed().toLower();
  return Type == "application/json";
}

namespace {

// The host of a Host header without its port; an IPv6 address loses its
// brackets.
QString HostName(const QByteArray &Host) {
  const QString Text = QString::fromLatin1(Host).trimmed();
  if (Text.startsWith(u'[')) {
    const qsizetype Close = Text.indexOf(u']');
    if (Close < 0)
      return {};
    const QString Rest = Text.mid(Close + 1);
    if (!Rest.isEmpty() && !Rest.startsWith(u':'))
      return {};
    return Text.mid(1, Close - 1);
  }
  const qsizetype Colon = Text.indexOf(u':');
  return Colon < 0 ? Text : Text.left(Colon);
}

} // namespace

bool WebHostAllowed(const QByteArray &Host, const QList<QHostAddress> &Addresses) {
  const QString Name = HostName(Host);
  if (Name.isEmpty())
    return false;
  if (Name.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
    return true;
  const QHostAddress Address(Name);
  if (Address.isNull())
    return false;
  for (const QHostAddress &Allowed : Addresses)
    if (Address.isEqual(Allowed, QHostAddress::TolerantConversion))
      return true;
  return false;
}

bool WebOriginAllowed(const QByteArray &Origin, const QByteArray &Host, bool Secure) {
  if (Origin.isEmpty())
    return true;
  const QByteArray Expected = (Secure ? "https://" : "http://") + Host.trimmed().toLower();
  return Origin.trimmed().toLower() == Expected;
}

QByteArray WebSessionOf(const QByteArray &CookieHeader) {
  for (const QByteArray &Part : CookieHeader.split(';')) {
    const qsizetype Equals = Part.indexOf('=');
    if (Equals > 0 && Part.left(Equals).trimmed() == WebSessionCookie)
      return Part.mid(Equals + 1).trimmed();
  }
  return {};
}

QByteArray WebSessionSetCookie(const QByteArray &Token, bool Secure) {
  QByteArray Value =
      QByteArray(WebSessionCookie) + '=' + Token + "; Path=/; HttpOnly; SameSite=Strict";
  if (Token.isEmpty())
    Value += "; Max-Age=0";
  if (Secure)
    Value += "; Secure";
  return Value;
}
