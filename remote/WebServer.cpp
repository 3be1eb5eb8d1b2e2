#include "remote/WebServer.h"

#include "remote/WebPassword.h"
#include "station/Station.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>

// The HTTP layer: hands every complete request to the server.
class TWebHttp : public QAbstractHttpServer {
public:
  explicit TWebHttp(TWebServer &Owner) : FOwner(Owner) {}

protected:
  // A WebSocket handshake comes here too: it goes on to the upgrade only
  // when this returns true.
  bool handleRequest(const QHttpServerRequest &Request, QTcpSocket *Socket) override {
    return FOwner.Handle(Request, Socket);
  }
  void missingHandler(const QHttpServerRequest &, QTcpSocket *Socket) override {
    Socket->disconnectFromHost();
  }

public:
  using QAbstractHttpServer::makeResponder;

private:
  TWebServer &FOwner;
};

namespace {

using THeader = std::pair<QByteArray, QByteArray>;

// What a connection may send ahead of a complete request: the longest body
// and room for the request line and headers.
constexpr qint64 MaxRequestBytes = WebMaxBody + 16 * 1024;
const char *const PendingKey = "orbaltWebPending";
const char *const RefusedKey = "orbaltWebRefused";
const char *const UpgradedKey = "orbaltWebUpgraded";

// Counts what a connection sends until its request is complete (Handle
// starts the count anew), and closes it with 413 once that passes
// MaxRequestBytes: the HTTP layer would otherwise keep a body of any size.
// Connected before the HTTP layer's own reader, so it sees each chunk first.
void GuardRequestSize(QTcpSocket *Socket) {
  Socket->setProperty(PendingKey, qint64(0));
  QObject::connect(Socket, &QIODevice::readyRead, Socket, [Socket] {
    if (Socket->property(UpgradedKey).toBool() || Socket->property(RefusedKey).toBool())
      return;
    const qint64 Pending = Socket->property(PendingKey).toLongLong() + Socket->bytesAvailable();
    Socket->setProperty(PendingKey, Pending);
    if (Pending <= MaxRequestBytes)
      return;
    Socket->setProperty(RefusedKey, true);
    const QByteArray Body =
        WebErrorBody(QStringLiteral("The request is larger than %1 bytes").arg(MaxRequestBytes));
    Socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\n"
                  "Connection: close\r\nContent-Length: " +
                  QByteArray::number(Body.size()) + "\r\n\r\n" + Body);
    Socket->disconnectFromHost();
  });
}

QByteArray MethodName(QHttpServerRequest::Method Method) {
  switch (Method) {
  case QHttpServerRequest::Method::Get:
    return "GET";
  case QHttpServerRequest::Method::Head:
    return "HEAD";
  case QHttpServerRequest::Method::Post:
    return "POST";
  case QHttpServerRequest::Method::Put:
    return "PUT";
  case QHttpServerRequest::Method::Delete:
    return "DELETE";
  case QHttpServerRequest::Method::Options:
    return "OPTIONS";
  case QHttpServerRequest::Method::Patch:
    return "PATCH";
  default:
    return "OTHER";
  }
}

QByteArray HeaderOf(const QList<std::pair<QByteArray, QByteArray>> &Headers, const char *Name) {
  for (const auto &[Key, Value] : Headers)
    if (Key.compare(Name, Qt::CaseInsensitive) == 0)
      return Value;
  return {};
}

QByteArray Compact(const QJsonObject &Object) {
  return QJsonDocument(Object).toJson(QJsonDocument::Compact);
}

bool IsLoopback(const QHostAddress &Address) { return Address.isLoopback(); }

// Listeners whose connections are guarded from their start, before the
// HTTP layer connects its reader.
class TGuardedTcpServer : public QTcpServer {
protected:
  void incomingConnection(qintptr Handle) override {
    auto *Socket = new QTcpSocket(this);
    if (!Socket->setSocketDescriptor(Handle)) {
      delete Socket;
      return;
    }
    GuardRequestSize(Socket);
    addPendingConnection(Socket);
  }
};

// The encrypted connection becomes pending only once its handshake is done.
class TGuardedSslServer : public QSslServer {
protected:
  void incomingConnection(qintptr Handle) override {
    QSslServer::incomingConnection(Handle);
    for (QTcpSocket *Socket : findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly))
      if (!Socket->property(PendingKey).isValid())
        GuardRequestSize(Socket);
  }
};

} // namespace

TWebServer::TWebServer(TStation &Station, TOptions Options, QObject *Parent)
    : QObject(Parent), FStation(Station), FOptions(std::move(Options)) {
  FClock.start();
  QFile Page(QStringLiteral(":/orbalt-web/index.html"));
  if (Page.open(QIODevice::ReadOnly))
    FPage = Page.readAll();

  // A change of the rotator list is pushed whole once it has finished.
  FListTimer.setSingleShot(true);
  FListTimer.setInterval(0);
  connect(&FListTimer, &QTimer::timeout, this, &TWebServer::PushAll);
  connect(&FStation, &TStation::RotatorAdded, this, [this] { FListTimer.start(); });
  connect(&FStation, &TStation::RotatorRemoved, this, [this] { FListTimer.start(); });
  connect(&FStation, &TStation::RotatorMoved, this, [this] { FListTimer.start(); });
  // A change of reading is told from 2° on: the arrival tells the last
  // degree of a movement.
  for (auto Signal : {&TStation::AzimuthChanged, &TStation::RotatorMoveTargetChanged,
                      &TStation::PresetReached, &TStation::RotatorOpened,
                      &TStation::RotatorClosed})
    connect(&FStation, Signal, this, &TWebServer::PushRotator);
  connect(&FStation, &TStation::RotatorRespondingChanged, this,
          [this](int Index, bool) { PushRotator(Index); });
}

TWebServer::~TWebServer() {
  for (const QPointer<QWebSocket> &Client : FClients)
    delete Client.data();
  FClients.clear();
  FHttp.reset();
}

bool TWebServer::Start(QString *Error) {
  const auto Refuse = [Error](const QString &Text) {
    if (Error)
      *Error = Text;
    return false;
  };
  if (!PasswordSet() && !IsLoopback(FOptions.Address))
    return Refuse(QStringLiteral("%1 is not a loopback address, and no web password is set "
                                 "(orbalt --web-password, or the network page)")
                      .arg(FOptions.Address.toString()));
  if (FPage.isEmpty())
    return Refuse(QStringLiteral("the page is missing from the program"));

  std::unique_ptr<QTcpServer> Listener;
  const bool WantSsl = !FOptions.CertificateFile.isEmpty() || !FOptions.KeyFile.isEmpty();
  if (WantSsl) {
    if (FOptions.CertificateFile.isEmpty() || FOptions.KeyFile.isEmpty())
      return Refuse(QStringLiteral("HTTPS needs both a certificate and a key file"));
    const QList<QSslCertificate> Chain = QSslCertificate::fromPath(FOptions.CertificateFile);
    if (Chain.isEmpty())
      return Refuse(
          QStringLiteral("no certificate could be read from %1").arg(FOptions.CertificateFile));
    QFile KeyFile(FOptions.KeyFile);
    if (!KeyFile.open(QIODevice::ReadOnly))
      return Refuse(QStringLiteral("%1: %2").arg(FOptions.KeyFile, KeyFile.errorString()));
    const QByteArray KeyPem = KeyFile.readAll();
    QSslKey Key;
    for (QSsl::KeyAlgorithm Algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa})
      if (Key = QSslKey(KeyPem, Algorithm); !Key.isNull())
        break;
    if (Key.isNull())
      return Refuse(QStringLiteral("no private key could be read from %1").arg(FOptions.KeyFile));
    QSslConfiguration Config = QSslConfiguration::defaultConfiguration();
    Config.setLocalCertificateChain(Chain);
    Config.setPrivateKey(Key);
    auto Ssl = std::make_unique<TGuardedSslServer>();
    Ssl->setSslConfiguration(Config);
    Listener = std::move(Ssl);
    FSecure = true;
  } else {
    Listener = std::make_unique<TGuardedTcpServer>();
  }
  if (!Listener->listen(FOptions.Address, FOptions.Port))
    return Refuse(QStringLiteral("%1 port %2: %3")
                      .arg(FOptions.Address.toString())
                      .arg(FOptions.Port)
                      .arg(Listener->errorString()));
  FHttp = std::make_unique<TWebHttp>(*this);
  connect(FHttp.get(), &QAbstractHttpServer::newWebSocketConnection, this,
          &TWebServer::AcceptWebSockets);
  FHttp->bind(Listener.release());
  return true;
}

quint16 TWebServer::Port() const {
  if (!FHttp || FHttp->servers().isEmpty())
    return 0;
  return FHttp->servers().first()->serverPort();
}

int TWebServer::ClientCount() const {
  return static_cast<int>(
      std::count_if(FClients.begin(), FClients.end(), [](const auto &C) { return !C.isNull(); }));
}

QList<QHostAddress> TWebServer::HostAddresses() const {
  const QHostAddress &Address = FOptions.Address;
  if (Address == QHostAddress::Any || Address == QHostAddress::AnyIPv4 ||
      Address == QHostAddress::AnyIPv6)
    return QNetworkInterface::allAddresses();
  QList<QHostAddress> Result{Address};
  if (Address.isLoopback())
    Result << QHostAddress(QHostAddress::LocalHost) << QHostAddress(QHostAddress::LocalHostIPv6);
  return Result;
}

TWebServer::TAnswer TWebServer::Json(const QJsonObject &Object, int Status) {
  TAnswer A;
  A.Status = Status;
  A.Body = Compact(Object);
  return A;
}

TWebServer::TAnswer TWebServer::Fail(const TWebError &Error) {
  TAnswer A;
  A.Status = Error.Status;
  A.Body = WebErrorBody(Error.Text);
  return A;
}

TWebServer::TAnswer TWebServer::Fail(int Status, const QString &Text) {
  return Fail(TWebError{Status, Text});
}

bool TWebServer::Handle(const QHttpServerRequest &Request, QTcpSocket *Socket) {
  // Everything the answer needs is copied: an action may run nested event
  // loops, during which the request and its socket may go.
  const QByteArray Method = MethodName(Request.method());
  const QString Path = Request.url().path();
  const QList<std::pair<QByteArray, QByteArray>> Headers = [&] {
    QList<std::pair<QByteArray, QByteArray>> List;
    for (const auto &H : Request.headers())
      List.append({H.first, H.second});
    return List;
  }();
  const QByteArray Body = Request.body();
  const QHostAddress Peer = Request.remoteAddress();
  const QPointer<QTcpSocket> Guard = Socket;
  // A request refused for its size has been answered already.
  if (Socket->property(RefusedKey).toBool())
    return HeaderOf(Headers, "Upgrade").isEmpty();
  Socket->setProperty(PendingKey, qint64(0));

  TAnswer A;
  const bool Upgrade = HeaderOf(Headers, "Upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
  if (!WebHostAllowed(HeaderOf(Headers, "Host"), HostAddresses())) {
    A = Fail(403, QStringLiteral("This server does not serve the host \"%1\"")
                      .arg(QString::fromLatin1(HeaderOf(Headers, "Host"))));
  } else if (Upgrade) {
    // The handshake of /api/events: refused with an HTTP answer, or let
    // through to the upgrade (which checks again, see AcceptWebSockets).
    if (WebRoute(Method, Path).Route != TWebRoute::Events)
      A = Fail(404, QStringLiteral("There is no WebSocket at %1").arg(Path));
    else if (!WebOriginAllowed(HeaderOf(Headers, "Origin"), HeaderOf(Headers, "Host"), FSecure))
      A = Fail(403, QStringLiteral("Pages of another origin may not connect"));
    else if (PasswordSet() && !ValidSession(HeaderOf(Headers, "Cookie")))
      A = Fail(401, QStringLiteral("Log in first"));
    else {
      Socket->setProperty(UpgradedKey, true);
      return true;
    }
  } else {
    A = Answer(Method, Path, Headers, Body, Peer);
  }
  if (Guard)
    Write(Guard, Request, A, Method == "HEAD");
  // A refused handshake is not upgraded; the HTTP layer closes it.
  return !Upgrade;
}

TWebServer::TAnswer TWebServer::Answer(const QByteArray &Method, const QString &Path,
                                       const QList<std::pair<QByteArray, QByteArray>> &Headers,
                                       const QByteArray &Body, const QHostAddress &Peer) {
  const TWebRequestTarget Target = WebRoute(Method, Path);
  if (Target.Route == TWebRoute::Unknown)
    return Fail(404, QStringLiteral("There is no %1").arg(Path));
  if (Target.Route == TWebRoute::WrongMethod) {
    TAnswer A =
        Fail(405, QStringLiteral("%1 does not take %2").arg(Path, QString::fromLatin1(Method)));
    A.Headers.append(THeader{"Allow", Target.Posts ? "POST" : "GET, HEAD"});
    return A;
  }
  if (Body.size() > WebMaxBody)
    return Fail(413, QStringLiteral("The body is larger than %1 bytes").arg(WebMaxBody));

  const bool Open = Target.Route == TWebRoute::Page || Target.Route == TWebRoute::Login ||
                    Target.Route == TWebRoute::Session;
  const bool Authenticated = !PasswordSet() || ValidSession(HeaderOf(Headers, "Cookie"));
  if (!Open && !Authenticated)
    return Fail(401, QStringLiteral("Log in first"));

  if (Target.Posts && !WebIsJson(HeaderOf(Headers, "Content-Type")))
    return Fail(415, QStringLiteral("The body must be sent as application/json"));

  switch (Target.Route) {
  case TWebRoute::Page: {
    TAnswer A;
    A.Body = FPage;
    A.ContentType = "text/html; charset=utf-8";
    // The page fetches nothing from elsewhere and may not be framed.
    A.Headers.append(THeader{"Content-Security-Policy",
                             "default-src 'none'; script-src 'unsafe-inline'; style-src "
                             "'unsafe-inline'; connect-src 'self'; img-src data:; "
                             "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"});
    A.Headers.append(THeader{"X-Frame-Options", "DENY"});
    return A;
  }
  case TWebRoute::Session:
    return Json({{QStringLiteral("passwordRequired"), PasswordSet()},
                 {QStringLiteral("authenticated"), Authenticated}});
  case TWebRoute::Events:
    return Fail(400, QStringLiteral("/api/events is a WebSocket"));
  case TWebRoute::List:
    return Json(AllRotators());
  case TWebRoute::Rotator:
    return RotatorAnswer(Target.Index);
  default:
    break;
  }

  const auto Parsed = WebJsonObject(Body);
  if (const auto *Error = std::get_if<TWebError>(&Parsed))
    return Fail(*Error);
  const QJsonObject &Object = std::get<QJsonObject>(Parsed);
  if (Target.Route == TWebRoute::Login)
    return Login(Object, Peer);
  if (Target.Route == TWebRoute::Logout) {
    FSessions.remove(WebSessionOf(HeaderOf(Headers, "Cookie")));
    TAnswer A = Json({{QStringLiteral("ok"), true}});
    A.Headers.append(THeader{"Set-Cookie", WebSessionSetCookie({}, FSecure)});
    return A;
  }
  ++FRunning;
  TAnswer A = Act(Target, Object);
  --FRunning;
  return A;
}

TWebServer::TAnswer TWebServer::RotatorAnswer(int Index) {
  const std::optional<TRotatorStatus> Status = FStation.Status(Index);
  if (!Status)
    return Fail(404, QStringLiteral("There is no rotator %1").arg(Index));
  return Json(WebRotatorJson(Index, *Status));
}

TWebServer::TAnswer TWebServer::Act(const TWebRequestTarget &Target, const QJsonObject &Body) {
  const int I = Target.Index;
  // The body is read in full before anything is sent.
  TActResult Result;
  QJsonObject Extra;
  switch (Target.Route) {
  case TWebRoute::Target: {
    const auto Wanted = WebTargetOf(Body);
    if (const auto *Error = std::get_if<TWebError>(&Wanted))
      return Fail(*Error);
    Result = FStation.GoToAzimuth(I, std::get<TWebTarget>(Wanted).Azimuth);
    break;
  }
  case TWebRoute::Stop:
    Result = FStation.StopRotator(I);
    break;
  case TWebRoute::Turn: {
    const auto Wanted = WebTurnOf(Body);
    if (const auto *Error = std::get_if<TWebError>(&Wanted))
      return Fail(*Error);
    Result = FStation.TurnRotator(I, std::get<TTurn>(Wanted));
    break;
  }
  case TWebRoute::Home:
    Result = FStation.GoHome(I);
    break;
  case TWebRoute::TurnTo: {
    const auto Wanted = WebTurnToOf(Body);
    if (const auto *Error = std::get_if<TWebError>(&Wanted))
      return Fail(*Error);
    Result = FStation.Steerable(I);
    if (!Result.Done())
      break;
    const TWebTurnTo &To = std::get<TWebTurnTo>(Wanted);
    const auto Turned = FStation.TurnTo(I, To.Place, To.LongPath);
    if (const auto *Why = std::get_if<QString>(&Turned))
      return Fail(422, *Why);
    Extra.insert(QStringLiteral("bearing"), std::get<double>(Turned));
    break;
  }
  default:
    return Fail(404, QStringLiteral("There is no such action"));
  }
  if (!Result.Done())
    return Fail(WebRefusal(Result));
  TAnswer A = RotatorAnswer(I);
  if (!Extra.isEmpty() && A.Status == 200) {
    QJsonObject Object = QJsonDocument::fromJson(A.Body).object();
    for (auto It = Extra.begin(); It != Extra.end(); ++It)
      Object.insert(It.key(), It.value());
    A.Body = Compact(Object);
  }
  return A;
}

TWebServer::TAnswer TWebServer::Login(const QJsonObject &Body, const QHostAddress &Peer) {
  const QString Who = Peer.toString();
  const qint64 Now = FClock.elapsed();
  if (const auto It = FFailures.constFind(Who); It != FFailures.cend() && It->Until > Now) {
    const qint64 Seconds = (It->Until - Now + 999) / 1000;
    TAnswer A = Fail(429, QStringLiteral("Too many failed logins; try again in %1 s").arg(Seconds));
    A.Headers.append(THeader{"Retry-After", QByteArray::number(Seconds)});
    return A;
  }
  const auto Password = WebPasswordOf(Body);
  if (const auto *Error = std::get_if<TWebError>(&Password))
    return Fail(*Error);
  if (PasswordSet() && !CheckWebPassword(std::get<QString>(Password), FOptions.PasswordHash)) {
    // The table of failures stays small whoever knocks.
    if (FFailures.size() > 1000)
      FFailures.clear();
    TFailures &F = FFailures[Who];
    F.Count = std::min(F.Count + 1, 30);
    const qint64 Delay =
        std::min<qint64>(qint64(FOptions.LoginDelayMs) << (F.Count - 1), FOptions.MaxLoginDelayMs);
    F.Until = Now + Delay;
    return Fail(401, QStringLiteral("Wrong password"));
  }
  FFailures.remove(Who);
  TAnswer A = Json({{QStringLiteral("ok"), true}});
  A.Headers.append(THeader{"Set-Cookie", WebSessionSetCookie(NewSession(), FSecure)});
  return A;
}

bool TWebServer::ValidSession(const QByteArray &CookieHeader) {
  const QByteArray Token = WebSessionOf(CookieHeader);
  const auto It = FSessions.find(Token);
  if (Token.isEmpty() || It == FSessions.end())
    return false;
  *It = FClock.elapsed();
  return true;
}

QByteArray TWebServer::NewSession() {
  if (FSessions.size() >= MaxSessions) {
    const auto Oldest = std::min_element(FSessions.begin(), FSessions.end());
    FSessions.erase(Oldest);
  }
  QByteArray Raw(16, '\0');
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(Raw.data()), 4);
  const QByteArray Token = Raw.toHex();
  FSessions.insert(Token, FClock.elapsed());
  return Token;
}

void TWebServer::Write(QTcpSocket *Socket, const QHttpServerRequest &Request, const TAnswer &Answer,
                       bool Head) {
  QHttpServerResponder Responder = TWebHttp::makeResponder(Request, Socket);
  Responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(Answer.Status));
  Responder.writeHeader("Content-Type", Answer.ContentType);
  Responder.writeHeader("Content-Length", QByteArray::number(Answer.Body.size()));
  Responder.writeHeader("Cache-Control", "no-store");
  Responder.writeHeader("X-Content-Type-Options", "nosniff");
  Responder.writeHeader("Referrer-Policy", "no-referrer");
  for (const auto &[Key, Value] : Answer.Headers)
    Responder.writeHeader(Key, Value);
  Responder.writeBody(Head ? QByteArray() : Answer.Body);
}

// --- WebSocket -----------------------------------------------------------------------

void TWebServer::AcceptWebSockets() {
  while (FHttp && FHttp->hasPendingWebSocketConnections()) {
    QWebSocket *Client = FHttp->nextPendingWebSocketConnection().release();
    Client->setParent(this);
    const QNetworkRequest Request = Client->request();
    const QByteArray Host = Request.rawHeader("Host");
    const auto Refuse = [Client](const QString &Why) {
      Client->close(QWebSocketProtocol::CloseCodePolicyViolated, Why);
      Client->deleteLater();
    };
    if (Client->requestUrl().path() != QLatin1String("/api/events")) {
      Refuse(QStringLiteral("There is no WebSocket at this path"));
      continue;
    }
    if (!WebHostAllowed(Host, HostAddresses())) {
      Refuse(QStringLiteral("Wrong host"));
      continue;
    }
    if (!WebOriginAllowed(Client->origin().toLatin1(), Host, FSecure)) {
      Refuse(QStringLiteral("Wrong origin"));
      continue;
    }
    if (PasswordSet() && !ValidSession(Request.rawHeader("Cookie"))) {
      Refuse(QStringLiteral("Log in first"));
      continue;
    }
    std::erase_if(FClients, [](const QPointer<QWebSocket> &C) { return C.isNull(); });
    if (static_cast<int>(FClients.size()) >= MaxClients) {
      Refuse(QStringLiteral("Too many clients"));
      continue;
    }
    FClients.emplace_back(Client);
    connect(Client, &QWebSocket::disconnected, Client, &QObject::deleteLater);
    // Clients only listen; what they send is dropped.
    Send(Client, Compact(AllRotators()));
  }
}

QJsonObject TWebServer::AllRotators() const {
  QJsonArray List;
  for (int I = 0; I < FStation.RotatorCount(); ++I)
    if (const std::optional<TRotatorStatus> Status = FStation.Status(I))
      List.append(WebRotatorJson(I, *Status));
  return {{QStringLiteral("rotators"), List}};
}

void TWebServer::Send(QWebSocket *Client, const QByteArray &Message) {
  if (Client->bytesToWrite() > MaxUnsentBytes) {
    Client->abort();
    Client->deleteLater();
    return;
  }
  Client->sendTextMessage(QString::fromUtf8(Message));
}

void TWebServer::PushRotator(int Index) {
  const std::optional<TRotatorStatus> Status = FStation.Status(Index);
  if (!Status)
    return;
  const QJsonObject Object = WebRotatorJson(Index, *Status);
  if (FPushed.size() <= Index)
    FPushed.resize(Index + 1);
  if (FPushed[Index] == Object)
    return;
  FPushed[Index] = Object;
  const QByteArray Message = Compact(Object);
  for (const QPointer<QWebSocket> &Client : FClients)
    if (Client)
      Send(Client, Message);
}

void TWebServer::PushAll() {
  FPushed.clear();
  const QByteArray Message = Compact(AllRotators());
  for (const QPointer<QWebSocket> &Client : FClients)
    if (Client)
      Send(Client, Message);
}
