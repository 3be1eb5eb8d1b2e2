// The web server on a station whose rotators hang on emulated controllers:
// every endpoint and every refusal over raw HTTP (what reaches the line, and
// that nothing does for a refused request), the password, the session and
// the slowed logins, the WebSocket's pushes and its checks, and the
// switches and settings that start it.

#include "remote/WebServer.h"
#include "WebTestSupport.h"
#include "common/RecordingUiServices.h"
#include "remote/StationNetwork.h"
#include "remote/WebPassword.h"
#include "settings/NetworkSettings.h"
#include "station/Station.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QWebSocket>

#include <algorithm>
#include <memory>

using namespace web_test;
using rotctld_test::Received;
using rotctld_test::WaitForReceived;

namespace {

class WebServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Gs232Emulator::Options Fast;
    Fast.timeScale = 20; // a move ends within seconds
    Tower = std::make_unique<Gs232Emulator>(Fast);
    Mast = std::make_unique<Gs232Emulator>();
    ASSERT_TRUE(Tower->start());
    ASSERT_TRUE(Mast->start());
    // Tower opens at start, Mast stays closed, Spare is switched off.
    QFile File(Dir.filePath(QStringLiteral("orbalt.xml")));
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write(QStringLiteral(
                   "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>"
                   "<Station><Locator Type=\"10\">JO62qm</Locator></Station><Rotators>"
                   "<Rotator_0><Title Type=\"10\">Tower</Title><Enable Type=\"2\">-1</Enable>"
                   "<AutoActive Type=\"2\">-1</AutoActive><Port Type=\"10\">%1</Port>"
                   "<CenterPosition Type=\"9\">1</CenterPosition></Rotator_0>"
                   "<Rotator_1><Title Type=\"10\">Mast</Title><Enable Type=\"2\">-1</Enable>"
                   "<AutoActive Type=\"2\">0</AutoActive><Port Type=\"10\">%2</Port></Rotator_1>"
                   "<Rotator_2><Title Type=\"10\">Spare</Title><Enable Type=\"2\">0</Enable>"
                   "</Rotator_2></Rotators></root>\n")
                   .arg(Tower->devicePath(), Mast->devicePath())
                   .toUtf8());
    File.close();
    Station = std::make_unique<TStation>(File.fileName());
    Station->Load();
    Station->Start();
    ASSERT_EQ(Station->RotatorCount(), 3);
    ASSERT_TRUE(Station->Status(0)->Open);
    ASSERT_TRUE(Tower->waitForCommands(3, std::chrono::milliseconds(rotctld_test::kWaitMs)));
  }

  void TearDown() override {
    Web.reset();
    Station.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Tower->stop();
    Mast->stop();
  }

  quint16 Serve(TWebServer::TOptions Options = {}) {
    Web = std::make_unique<TWebServer>(*Station, Options);
    QString Error;
    EXPECT_TRUE(Web->Start(&Error)) << Error.toStdString();
    return Web->Port();
  }

  // What Tower's line got since the last call, without the polls, once
  // commands starting with each of Expected have come: a marker sent
  // through the station then arrives after everything sent before it.
  QStringList TowerGot(const QStringList &Expected = {}) {
    WaitFor([&] {
      const QStringList Got = Received(*Tower);
      return std::all_of(Expected.begin(), Expected.end(), [&](const QString &E) {
        return std::any_of(Got.begin(), Got.end(),
                           [&](const QString &G) { return G.startsWith(E); });
      });
    });
    const QString Marker = QStringLiteral("I0");
    const qsizetype Before = Received(*Tower).count(Marker);
    EXPECT_TRUE(Station->SendCommands(0, Marker).Done());
    EXPECT_TRUE(WaitFor([&] { return Received(*Tower).count(Marker) > Before; }));
    const QStringList All = Received(*Tower);
    const qsizetype Last = All.lastIndexOf(Marker);
    QStringList Out = All.mid(Seen, Last - Seen);
    Seen = Last + 1;
    // The controller may log a marker twice: markers are no commands.
    Out.removeAll(Marker);
    return Out;
  }

  // How much of Tower's log TowerGot has returned.
  qsizetype Seen = 0;
  TScopedRecordingUi Ui;
  QTemporaryDir Dir;
  std::unique_ptr<Gs232Emulator> Tower;
  std::unique_ptr<Gs232Emulator> Mast;
  std::unique_ptr<TStation> Station;
  std::unique_ptr<TWebServer> Web;
};

TEST_F(WebServerTest, EveryEndpointAndRefusalThroughTheSurface) {
  const quint16 Port = Serve();
  TowerGot();
  const auto WithType = [](THttpRequest R, const QByteArray &Type) {
    R.ContentType = Type;
    return R;
  };
  const auto WithHost = [](THttpRequest R, const QByteArray &Host) {
    R.Host = Host;
    return R;
  };
  THttpRequest Put = Get("/api/rotators/0");
  Put.Method = "PUT";
  struct TCase {
    const char *Name;
    THttpRequest Request;
    int Status;
    // A part of the error's text; empty for a success.
    QString Error;
    // The first letter of each command Tower's line gets.
    QStringList Line;
  } Cases[] = {
      {"target", Post("/api/rotators/0/target", "{\"azimuth\": 90}"), 200, {}, {"M090"}},
      {"stop", Post("/api/rotators/0/stop", "{}"), 200, {}, {"S"}},
      {"turn cw", Post("/api/rotators/0/turn", "{\"direction\":\"cw\"}"), 200, {}, {"R"}},
      {"turn ccw", Post("/api/rotators/0/turn", "{\"direction\":\"ccw\"}"), 200, {}, {"L"}},
      {"stop, empty body", Post("/api/rotators/0/stop", ""), 200, {}, {"S"}},
      {"home", Post("/api/rotators/0/home", "{}"), 200, {}, {"M"}},
      {"turn-to", Post("/api/rotators/0/turn-to", "{\"place\":\"FN31pr\"}"), 200, {}, {"M"}},
      // Refusals of the surface, with its reasons.
      {"beyond the travel",
       Post("/api/rotators/0/target", "{\"azimuth\": 400}"),
       422,
       "outside the travel of Tower",
       {}},
      {"closed", Post("/api/rotators/1/target", "{\"azimuth\": 90}"), 409, "Mast is not open", {}},
      {"switched off", Post("/api/rotators/2/stop", "{}"), 409, "Spare is not enabled", {}},
      {"no such rotator", Post("/api/rotators/5/stop", "{}"), 404, "There is no rotator 5", {}},
      {"no such rotator to read", Get("/api/rotators/5"), 404, "There is no rotator 5", {}},
      {"unknown place", Post("/api/rotators/0/turn-to", "{\"place\":\"ZZ\"}"), 422, "", {}},
      // Requests that never reach the surface.
      {"plain text",
       WithType(Post("/api/rotators/0/stop", "{}"), "text/plain"),
       415,
       "application/json",
       {}},
      {"form",
       WithType(Post("/api/rotators/0/target", "azimuth=90"), "application/x-www-form-urlencoded"),
       415,
       "application/json",
       {}},
      {"malformed", Post("/api/rotators/0/target", "{\"azimuth\": 9"), 400, "not JSON", {}},
      {"wrong field", Post("/api/rotators/0/turn", "{\"direction\":\"up\"}"), 400, "direction", {}},
      {"oversized", Post("/api/rotators/0/stop", QByteArray(5000, ' ')), 413, "larger", {}},
      {"method", Put, 405, "does not take PUT", {}},
      {"path", Get("/api/nothing"), 404, "There is no /api/nothing", {}},
      {"foreign host",
       WithHost(Post("/api/rotators/0/stop", "{}"), "evil.example:8080"),
       403,
       "evil.example",
       {}},
      {"no host", WithHost(Post("/api/rotators/0/stop", "{}"), QByteArray()), 403, "", {}},
      {"websocket path as plain GET", Get("/api/events"), 400, "WebSocket", {}},
  };
  for (const TCase &C : Cases) {
    SCOPED_TRACE(C.Name);
    const THttpAnswer A = Exchange(Port, C.Request);
    EXPECT_EQ(A.Status, C.Status) << A.Body.toStdString();
    EXPECT_EQ(A.Header("Content-Type"), "application/json");
    if (C.Status == 200) {
      EXPECT_EQ(A.Json().value(QStringLiteral("index")).toInt(-1),
                C.Request.Path.split('/').value(3).toInt());
    } else {
      EXPECT_FALSE(A.Error().isEmpty()) << A.Body.toStdString();
      EXPECT_TRUE(A.Error().contains(C.Error)) << A.Error().toStdString();
    }
    QStringList Got = TowerGot(C.Line);
    for (QString &Command : Got)
      if (!C.Line.isEmpty() && C.Line.value(0).size() == 1)
        Command = Command.left(1);
    EXPECT_EQ(Got, C.Line);
  }
  // Nothing ever reached the closed rotator's line.
  EXPECT_TRUE(Received(*Mast).isEmpty()) << Received(*Mast).join(u',').toStdString();
}

TEST_F(WebServerTest, AnEndlessBodyIsCutOffNotKept) {
  const QString Certificate = QStringLiteral(ORBALT_WEB_TEST_DIR "/test-cert.pem");
  for (const bool Secure : {false, true}) {
    SCOPED_TRACE(Secure ? "https" : "http");
    TWebServer::TOptions Options;
    if (Secure) {
      Options.CertificateFile = Certificate;
      Options.KeyFile = QStringLiteral(ORBALT_WEB_TEST_DIR "/test-key.pem");
    }
    const quint16 Port = Serve(Options);
    TowerGot();
    QSslSocket Socket;
    if (Secure) {
      QSslConfiguration Config = Socket.sslConfiguration();
      Config.setCaCertificates(QSslCertificate::fromPath(Certificate));
      Socket.setSslConfiguration(Config);
      Socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), Port);
      ASSERT_TRUE(WaitFor([&] { return Socket.isEncrypted(); }));
    } else {
      Socket.connectToHost(QHostAddress(QHostAddress::LocalHost), Port);
      ASSERT_TRUE(WaitFor([&] { return Socket.state() == QAbstractSocket::ConnectedState; }));
    }
    Socket.write("POST /api/rotators/0/stop HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                 "Content-Type: application/json\r\nContent-Length: 100000000\r\n\r\n");
    // The server ends the connection long before the announced body is in.
    const QByteArray Chunk(64 * 1024, ' ');
    int Sent = 0;
    EXPECT_TRUE(WaitFor([&] {
      if (Socket.bytesToWrite() == 0 && Sent < 100) {
        Socket.write(Chunk);
        ++Sent;
      }
      return Socket.state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_LT(Sent, 100);
    EXPECT_TRUE(TowerGot().isEmpty());
    // Other connections are served as before.
    EXPECT_EQ(Exchange(Port, Get("/api/rotators/0"), Secure, QSslCertificate::fromPath(Certificate))
                  .Status,
              200);
  }
}

TEST_F(WebServerTest, ReadsGiveEveryRotatorsStateAndThePage) {
  const quint16 Port = Serve();
  const THttpAnswer List = Exchange(Port, Get("/api/rotators"));
  ASSERT_EQ(List.Status, 200);
  const QJsonArray Rotators = List.Json().value(QStringLiteral("rotators")).toArray();
  ASSERT_EQ(Rotators.size(), 3);
  const QJsonObject Tower = Rotators[0].toObject();
  EXPECT_EQ(Tower.value(QStringLiteral("title")).toString(), "Tower");
  EXPECT_TRUE(Tower.value(QStringLiteral("open")).toBool());
  EXPECT_TRUE(Tower.value(QStringLiteral("enabled")).toBool());
  EXPECT_TRUE(Tower.value(QStringLiteral("target")).isNull());
  EXPECT_TRUE(Tower.value(QStringLiteral("azimuth")).isDouble());
  EXPECT_FALSE(Rotators[1].toObject().value(QStringLiteral("open")).toBool());
  EXPECT_FALSE(Rotators[2].toObject().value(QStringLiteral("enabled")).toBool());
  EXPECT_EQ(Exchange(Port, Get("/api/rotators/1")).Json().value(QStringLiteral("title")), "Mast");

  const THttpAnswer Page = Exchange(Port, Get("/"));
  EXPECT_EQ(Page.Status, 200);
  EXPECT_TRUE(Page.Header("Content-Type").startsWith("text/html"));
  EXPECT_TRUE(Page.Body.contains("<html")) << Page.Body.left(200).toStdString();
  EXPECT_TRUE(Page.Header("Content-Security-Policy").contains("default-src 'none'"));
}

TEST_F(WebServerTest, APasswordGuardsEverythingButThePageAndTheLogin) {
  TWebServer::TOptions Options;
  Options.PasswordHash = HashWebPassword(QStringLiteral("hunter22"));
  Options.LoginDelayMs = 0;
  const quint16 Port = Serve(Options);
  TowerGot();

  EXPECT_EQ(Exchange(Port, Get("/")).Status, 200);
  EXPECT_EQ(Exchange(Port, Get("/api/session")).Json().value(QStringLiteral("authenticated")),
            false);
  for (const THttpRequest &R :
       {Get("/api/rotators"), Get("/api/rotators/0"), Post("/api/rotators/0/stop", "{}"),
        Post("/api/rotators/0/target", "{\"azimuth\": 90}", "orbalt_session=guessed")})
    EXPECT_EQ(Exchange(Port, R).Status, 401) << R.Path.toStdString();
  EXPECT_EQ(Exchange(Port, Post("/api/login", "{\"password\":\"hunter2\"}")).Status, 401);

  const THttpAnswer Login = Exchange(Port, Post("/api/login", "{\"password\":\"hunter22\"}"));
  ASSERT_EQ(Login.Status, 200) << Login.Body.toStdString();
  const QByteArray SetCookie = Login.Header("Set-Cookie");
  EXPECT_TRUE(SetCookie.contains("HttpOnly")) << SetCookie.toStdString();
  EXPECT_TRUE(SetCookie.contains("SameSite=Strict")) << SetCookie.toStdString();
  const QByteArray Cookie = SetCookie.split(';').first();
  EXPECT_EQ(Exchange(Port, Get("/api/rotators", Cookie)).Status, 200);
  EXPECT_EQ(Exchange(Port, Post("/api/rotators/0/target", "{\"azimuth\": 90}", Cookie)).Status,
            200);
  EXPECT_EQ(TowerGot({"M090"}), QStringList{"M090"});

  EXPECT_EQ(Exchange(Port, Post("/api/logout", "{}", Cookie)).Status, 200);
  EXPECT_EQ(Exchange(Port, Get("/api/rotators", Cookie)).Status, 401);
  EXPECT_TRUE(TowerGot().isEmpty());
}

TEST_F(WebServerTest, AFailedLoginMakesTheNextOneWait) {
  TWebServer::TOptions Options;
  Options.PasswordHash = HashWebPassword(QStringLiteral("hunter22"));
  Options.LoginDelayMs = 10 * 60 * 1000; // longer than the test can take
  const quint16 Port = Serve(Options);
  EXPECT_EQ(Exchange(Port, Post("/api/login", "{\"password\":\"wrong\"}")).Status, 401);
  // Even the right password waits now: nothing is checked meanwhile.
  const THttpAnswer Next = Exchange(Port, Post("/api/login", "{\"password\":\"hunter22\"}"));
  EXPECT_EQ(Next.Status, 429);
  EXPECT_FALSE(Next.Header("Retry-After").isEmpty());
  EXPECT_TRUE(Next.Header("Set-Cookie").isEmpty());
}

TEST_F(WebServerTest, OnlyLoopbackWithoutAPassword) {
  TWebServer::TOptions Options;
  Options.Address = QHostAddress(QHostAddress::AnyIPv4);
  TWebServer Open(*Station, Options);
  QString Error;
  EXPECT_FALSE(Open.Start(&Error));
  EXPECT_TRUE(Error.contains(QStringLiteral("password"))) << Error.toStdString();
  EXPECT_EQ(Open.Port(), 0);

  Options.PasswordHash = HashWebPassword(QStringLiteral("hunter22"));
  const quint16 Port = Serve(Options);
  // On every address, the machine's own addresses are hosts it serves.
  EXPECT_EQ(Exchange(Port, Get("/api/session")).Status, 200);
  EXPECT_EQ(Exchange(Port, Get("/api/rotators")).Status, 401);
}

TEST_F(WebServerTest, HttpsWithACertificateAndKey) {
  const QString Certificate = QStringLiteral(ORBALT_WEB_TEST_DIR "/test-cert.pem");
  const QString Key = QStringLiteral(ORBALT_WEB_TEST_DIR "/test-key.pem");
  // Half a pair, or files that hold nothing usable, start nothing.
  struct TBad {
    QString Certificate;
    QString Key;
    const char *Why;
  } Bad[] = {
      {Certificate, {}, "both"},
      {{}, Key, "both"},
      {Key, Key, "no certificate"},
      {Certificate, Certificate, "no private key"},
      {Certificate, Dir.filePath(QStringLiteral("missing.pem")), "missing.pem"},
  };
  for (const TBad &B : Bad) {
    TWebServer::TOptions Options;
    Options.CertificateFile = B.Certificate;
    Options.KeyFile = B.Key;
    TWebServer Server(*Station, Options);
    QString Error;
    EXPECT_FALSE(Server.Start(&Error)) << B.Why;
    EXPECT_TRUE(Error.contains(QLatin1String(B.Why))) << Error.toStdString();
  }

  TWebServer::TOptions Options;
  Options.CertificateFile = Certificate;
  Options.KeyFile = Key;
  Options.PasswordHash = HashWebPassword(QStringLiteral("hunter22"));
  const quint16 Port = Serve(Options);
  EXPECT_TRUE(Web->Secure());
  const QList<QSslCertificate> Trusted = QSslCertificate::fromPath(Certificate);
  const THttpAnswer Login =
      Exchange(Port, Post("/api/login", "{\"password\":\"hunter22\"}"), true, Trusted);
  ASSERT_EQ(Login.Status, 200);
  EXPECT_TRUE(Login.Header("Set-Cookie").contains("; Secure"))
      << Login.Header("Set-Cookie").toStdString();
  EXPECT_EQ(Exchange(Port, Get("/api/rotators", Login.Header("Set-Cookie").split(';').first()),
                     true, Trusted)
                .Status,
            200);
  // Plain HTTP gets no answer from it.
  EXPECT_EQ(Exchange(Port, Get("/api/session")).Status, 0);
}

// A WebSocket client of /api/events with the messages it got.
struct TEvents {
  explicit TEvents(quint16 Port, const QByteArray &Origin = {}, const QByteArray &Cookie = {})
      : Socket(QString::fromLatin1(Origin)) {
    QObject::connect(&Socket, &QWebSocket::textMessageReceived, [this](const QString &Text) {
      Messages << QJsonDocument::fromJson(Text.toUtf8()).object();
    });
    QObject::connect(&Socket, &QWebSocket::disconnected, [this] { Closed = true; });
    QNetworkRequest Request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/events").arg(Port)));
    if (!Cookie.isEmpty())
      Request.setRawHeader("Cookie", Cookie);
    Socket.open(Request);
  }
  // The newest state pushed for rotator Index that satisfies Test.
  bool WaitForRotator(int Index, const std::function<bool(const QJsonObject &)> &Test) {
    return WaitFor([&] {
      for (const QJsonObject &M : Messages)
        if (M.value(QStringLiteral("index")).toInt(-1) == Index && Test(M))
          return true;
      return false;
    });
  }
  QWebSocket Socket;
  QList<QJsonObject> Messages;
  bool Closed = false;
};

TEST_F(WebServerTest, EventsPushEachChangeAsItHappens) {
  const quint16 Port = Serve();
  TEvents Events(Port, "http://127.0.0.1:" + QByteArray::number(Port));
  // First the whole list.
  ASSERT_TRUE(WaitFor([&] { return !Events.Messages.isEmpty(); }));
  EXPECT_EQ(Events.Messages[0].value(QStringLiteral("rotators")).toArray().size(), 3);

  // A move: its target, the needle on its way, its arrival; nobody asks.
  ASSERT_EQ(Exchange(Port, Post("/api/rotators/0/target", "{\"azimuth\": 60}")).Status, 200);
  EXPECT_TRUE(Events.WaitForRotator(
      0, [](const QJsonObject &M) { return M.value(QStringLiteral("target")).toInt() == 60; }));
  EXPECT_TRUE(Events.WaitForRotator(0, [](const QJsonObject &M) {
    return M.value(QStringLiteral("azimuth")).toInt() > 0 &&
           M.value(QStringLiteral("azimuth")).toInt() < 60;
  }));
  EXPECT_TRUE(Events.WaitForRotator(0, [](const QJsonObject &M) {
    return M.value(QStringLiteral("azimuth")).toInt() == 60 &&
           M.value(QStringLiteral("target")).isNull();
  }));
  // Closing a rotator is pushed too.
  ASSERT_TRUE(Station->CloseRotator(0).Done());
  EXPECT_TRUE(Events.WaitForRotator(
      0, [](const QJsonObject &M) { return !M.value(QStringLiteral("open")).toBool(true); }));
  EXPECT_FALSE(Events.Closed);
}

TEST_F(WebServerTest, EventsRefuseForeignOriginsAndMissingSessions) {
  TWebServer::TOptions Options;
  Options.PasswordHash = HashWebPassword(QStringLiteral("hunter22"));
  Options.LoginDelayMs = 0;
  const quint16 Port = Serve(Options);
  const QByteArray Own = "http://127.0.0.1:" + QByteArray::number(Port);

  TEvents Foreign(Port, "http://evil.example");
  TEvents NoSession(Port, Own);
  ASSERT_TRUE(WaitFor([&] { return Foreign.Closed && NoSession.Closed; }));
  EXPECT_TRUE(Foreign.Messages.isEmpty());
  EXPECT_TRUE(NoSession.Messages.isEmpty());

  const THttpAnswer Login = Exchange(Port, Post("/api/login", "{\"password\":\"hunter22\"}"));
  TEvents Allowed(Port, Own, Login.Header("Set-Cookie").split(';').first());
  EXPECT_TRUE(WaitFor([&] { return !Allowed.Messages.isEmpty(); }));
  EXPECT_FALSE(Allowed.Closed);
  EXPECT_EQ(Web->ClientCount(), 1);
}

// --- Switches and settings ------------------------------------------------------------

TEST_F(WebServerTest, SwitchesStartTheServerAndAreRemembered) {
  struct TCase {
    QStringList Switches;
    bool Enable;
    int Port;
    QString Address;
    int Errors;
  } Cases[] = {
      {{"--web", "0"}, true, 0, "127.0.0.1", 0},
      {{"--web=off"}, false, DefaultWebPort, "127.0.0.1", 0},
      {{"--web", "9000", "--web-address", "0.0.0.0"}, true, 9000, "0.0.0.0", 0},
      {{"--web", "port"}, false, DefaultWebPort, "127.0.0.1", 1},
      {{"--web"}, false, DefaultWebPort, "127.0.0.1", 1},
  };
  for (const TCase &C : Cases) {
    QStringList Arguments = QStringList{"orbalt", "--headless"} + C.Switches;
    const TNetworkArguments Taken = TakeNetworkArguments(Arguments);
    EXPECT_EQ(Arguments, (QStringList{"orbalt", "--headless"}));
    EXPECT_EQ(Taken.Errors.size(), C.Errors) << C.Switches.join(u' ').toStdString();
    const TNetworkSettings S = ApplyNetworkArguments({}, Taken);
    EXPECT_EQ(S.WebEnable, C.Enable) << C.Switches.join(u' ').toStdString();
    EXPECT_EQ(S.WebPort, C.Port);
    EXPECT_EQ(S.WebAddress, C.Address);
  }

  // Started by the switch, written to the document, and refused beyond
  // loopback without a password, with the reason for the operator.
  QStringList Messages;
  {
    QStringList Arguments{"orbalt", "--web", "0"};
    TStationNetwork Network(*Station, TakeNetworkArguments(Arguments));
    Network.Start();
    ASSERT_NE(Network.Web(), nullptr);
    EXPECT_EQ(Exchange(Network.Web()->Port(), Get("/api/rotators/0")).Status, 200);
  }
  TLoadProblems Problems;
  TNetworkSettings Stored = LoadNetworkSettings(Station->SettingsFile(), Problems);
  EXPECT_TRUE(Stored.WebEnable);
  EXPECT_EQ(Stored.WebPort, 0);
  {
    QStringList Arguments{"orbalt", "--web-address", "0.0.0.0"};
    TStationNetwork Network(*Station, TakeNetworkArguments(Arguments));
    QObject::connect(&Network, &TStationNetwork::Message,
                     [&Messages](const QString &Text) { Messages << Text; });
    Network.Start();
    EXPECT_EQ(Network.Web(), nullptr);
  }
  ASSERT_EQ(Messages.size(), 1);
  EXPECT_TRUE(Messages[0].contains(QStringLiteral("password"))) << Messages[0].toStdString();

  // The hash of a password set later is read back as it was written.
  Stored.WebPassword = HashWebPassword(QStringLiteral("hunter22"));
  SaveNetworkSettings(Station->SettingsFile(), Stored);
  EXPECT_EQ(LoadNetworkSettings(Station->SettingsFile(), Problems), Stored);
  EXPECT_TRUE(Problems.isEmpty());
}

} // namespace
