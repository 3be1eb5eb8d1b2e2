// The web interface's pure parts: routes, bodies, the request checks and the
// stored password.

#include "remote/WebApi.h"
#include "remote/WebPassword.h"

#include <gtest/gtest.h>

namespace {

TEST(WebApiTest, RoutesByMethodAndPath) {
  struct TCase {
    const char *Method;
    const char *Path;
    TWebRoute Route;
    int Index;
  } Cases[] = {
      {"GET", "/", TWebRoute::Page, -1},
      {"HEAD", "/", TWebRoute::Page, -1},
      {"GET", "/api/rotators", TWebRoute::List, -1},
      {"GET", "/api/rotators/0", TWebRoute::Rotator, 0},
      {"GET", "/api/rotators/12", TWebRoute::Rotator, 12},
      {"POST", "/api/rotators/1/target", TWebRoute::Target, 1},
      {"POST", "/api/rotators/1/stop", TWebRoute::Stop, 1},
      {"POST", "/api/rotators/1/turn", TWebRoute::Turn, 1},
      {"POST", "/api/rotators/1/home", TWebRoute::Home, 1},
      {"POST", "/api/rotators/1/turn-to", TWebRoute::TurnTo, 1},
      {"POST", "/api/login", TWebRoute::Login, -1},
      {"GET", "/api/events", TWebRoute::Events, -1},
      // Methods a path does not take.
      {"POST", "/api/rotators", TWebRoute::WrongMethod, -1},
      {"GET", "/api/rotators/1/stop", TWebRoute::WrongMethod, 1},
      {"DELETE", "/api/rotators/1", TWebRoute::WrongMethod, 1},
      {"GET", "/api/login", TWebRoute::WrongMethod, -1},
      // Paths it does not have, or indexes that are none.
      {"GET", "/api/rotators/-1", TWebRoute::Unknown, -1},
      {"GET", "/api/rotators/1x", TWebRoute::Unknown, -1},
      {"GET", "/api/rotators/99999999999", TWebRoute::Unknown, -1},
      {"POST", "/api/rotators/1/explode", TWebRoute::Unknown, -1},
      {"POST", "/api/rotators/1/stop/now", TWebRoute::Unknown, -1},
      {"GET", "/etc/passwd", TWebRoute::Unknown, -1},
  };
  for (const TCase &C : Cases) {
    const TWebRequestTarget T = WebRoute(C.Method, QString::fromLatin1(C.Path));
    EXPECT_EQ(T.Route, C.Route) << C.Method << ' ' << C.Path;
    if (C.Route != TWebRoute::Unknown) {
      EXPECT_EQ(T.Index, C.Index) << C.Method << ' ' << C.Path;
    }
  }
}

TEST(WebApiTest, BodiesReadOnlyWhatTheyMustHold) {
  const auto Object = [](const char *Json) {
    return std::get<QJsonObject>(WebJsonObject(QByteArray(Json)));
  };
  // Not JSON, not an object, too large: errors with their status.
  EXPECT_EQ(std::get<TWebError>(WebJsonObject("{\"azimuth\": ")).Status, 400);
  EXPECT_EQ(std::get<TWebError>(WebJsonObject("[1]")).Status, 400);
  EXPECT_EQ(std::get<TWebError>(WebJsonObject(QByteArray(WebMaxBody + 1, ' '))).Status, 413);
  EXPECT_TRUE(std::get<QJsonObject>(WebJsonObject("")).isEmpty());

  EXPECT_EQ(std::get<TWebTarget>(WebTargetOf(Object("{\"azimuth\": 123.5}"))).Azimuth, 123.5);
  for (const char *Bad : {"{}", "{\"azimuth\": \"123\"}", "{\"azimuth\": null}"})
    EXPECT_EQ(std::get<TWebError>(WebTargetOf(Object(Bad))).Status, 400) << Bad;
  // No rotator here turns in elevation: asked for, it is refused, not dropped.
  EXPECT_EQ(std::get<TWebError>(WebTargetOf(Object("{\"azimuth\": 1, \"elevation\": 5}"))).Status,
            422);

  EXPECT_EQ(std::get<TTurn>(WebTurnOf(Object("{\"direction\": \"cw\"}"))), TTurn::Clockwise);
  EXPECT_EQ(std::get<TTurn>(WebTurnOf(Object("{\"direction\": \"ccw\"}"))),
            TTurn::CounterClockwise);
  for (const char *Bad : {"{}", "{\"direction\": \"CW\"}", "{\"direction\": 1}"})
    EXPECT_TRUE(std::holds_alternative<TWebError>(WebTurnOf(Object(Bad)))) << Bad;

  const auto To =
      std::get<TWebTurnTo>(WebTurnToOf(Object("{\"place\": \" PM95 \", \"longPath\": true}")));
  EXPECT_EQ(To.Place, "PM95");
  EXPECT_TRUE(To.LongPath);
  EXPECT_FALSE(std::get<TWebTurnTo>(WebTurnToOf(Object("{\"place\": \"PM95\"}"))).LongPath);
  for (const char *Bad : {"{}", "{\"place\": \"  \"}", "{\"place\": \"PM95\", \"longPath\": 1}"})
    EXPECT_TRUE(std::holds_alternative<TWebError>(WebTurnToOf(Object(Bad)))) << Bad;
}

TEST(WebApiTest, RefusalsMapToFittingStatuses) {
  EXPECT_EQ(WebStatusOf(TRefusal::NoRotator), 404);
  EXPECT_EQ(WebStatusOf(TRefusal::OutOfRange), 422);
  for (TRefusal R : {TRefusal::NotEnabled, TRefusal::NotOpen, TRefusal::PortHeld,
                     TRefusal::AlreadyOpen, TRefusal::StationClosing})
    EXPECT_EQ(WebStatusOf(R), 409);
  const TWebError E = WebRefusal({TRefusal::NotOpen, -1, QStringLiteral("Tower is not open")});
  EXPECT_EQ(E.Text, "Tower is not open");
  EXPECT_EQ(WebErrorBody(E.Text), "{\"error\":\"Tower is not open\"}");
}

TEST(WebApiTest, RequestChecks) {
  const QList<QHostAddress> Loopback = {QHostAddress(QHostAddress::LocalHost),
                                        QHostAddress(QHostAddress::LocalHostIPv6)};
  struct THost {
    const char *Host;
    bool Allowed;
  } Hosts[] = {
      {"127.0.0.1:8080", true},
      {"127.0.0.1", true},
      {"localhost:8080", true},
      {"LOCALHOST", true},
      {"[::1]:8080", true},
      {"evil.example:8080", false},
      {"127.0.0.1.nip.io", false},
      {"10.0.0.1:8080", false},
      {"", false},
      {"[::1", false},
  };
  for (const THost &H : Hosts)
    EXPECT_EQ(WebHostAllowed(H.Host, Loopback), H.Allowed) << H.Host;

  EXPECT_TRUE(WebOriginAllowed("http://127.0.0.1:8080", "127.0.0.1:8080", false));
  EXPECT_TRUE(WebOriginAllowed("", "127.0.0.1:8080", false));
  EXPECT_FALSE(WebOriginAllowed("http://evil.example", "127.0.0.1:8080", false));
  EXPECT_FALSE(WebOriginAllowed("http://127.0.0.1:8080", "127.0.0.1:8080", true));
  EXPECT_FALSE(WebOriginAllowed("null", "127.0.0.1:8080", false));

  EXPECT_TRUE(WebIsJson("application/json"));
  EXPECT_TRUE(WebIsJson("Application/JSON; charset=utf-8"));
  for (const char *Type : {"", "text/plain", "application/x-www-form-urlencoded",
                           "multipart/form-data; boundary=x", "application/jsonx"})
    EXPECT_FALSE(WebIsJson(Type)) << Type;

  EXPECT_EQ(WebSessionOf("a=1; orbalt_session=abc ; b=2"), "abc");
  EXPECT_EQ(WebSessionOf("xorbalt_session=abc"), "");
  const QByteArray Cookie = WebSessionSetCookie("abc", false);
  EXPECT_TRUE(Cookie.contains("HttpOnly") && Cookie.contains("SameSite=Strict"));
  EXPECT_FALSE(Cookie.contains("Secure"));
  EXPECT_TRUE(WebSessionSetCookie("abc", true).contains("; Secure"));
}

TEST(WebPasswordTest, SaltedHashChecksOnlyItsPassword) {
  const QString Stored = HashWebPassword(QStringLiteral("s3cret äö"));
  EXPECT_FALSE(Stored.contains(QStringLiteral("s3cret")));
  EXPECT_TRUE(Stored.startsWith(QStringLiteral("pbkdf2-sha256$")));
  // A fresh salt each time: the same password never gives the same text.
  EXPECT_NE(Stored, HashWebPassword(QStringLiteral("s3cret äö")));
  EXPECT_TRUE(CheckWebPassword(QStringLiteral("s3cret äö"), Stored));
  EXPECT_FALSE(CheckWebPassword(QStringLiteral("s3cret"), Stored));
  EXPECT_FALSE(CheckWebPassword(QString(), Stored));
  for (const QString &Bad :
       {QString(), QStringLiteral("s3cret äö"), QStringLiteral("pbkdf2-sha256$x$AAAA$AAAA"),
        QStringLiteral("pbkdf2-sha256$999999999$AAAA$AAAA")})
    EXPECT_FALSE(CheckWebPassword(QStringLiteral("s3cret äö"), Bad)) << Bad.toStdString();
}

} // namespace
