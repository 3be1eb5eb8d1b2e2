#pragma once
// The web page's HTTP interface as pure functions, apart from the server
// that carries it: which request a method and path name, what a JSON body
// asks for, a rotator's state as JSON, the station's refusals as HTTP
// statuses and JSON errors, and the checks every request passes before it
// may act (the Host header, the Origin of a WebSocket, the content type, the
// session cookie). Nothing here touches a socket or a rotator.
//
// Paths (rotators by their index, from 0, as in the automation interface):
//   GET  /                          the page
//   GET  /api/rotators              every rotator's state
//   GET  /api/rotators/{i}          one rotator's state
//   POST /api/rotators/{i}/target   {"azimuth": 123}
//   POST /api/rotators/{i}/stop     {}
//   POST /api/rotators/{i}/turn     {"direction": "cw" | "ccw"}
//   POST /api/rotators/{i}/home     {}
//   POST /api/rotators/{i}/turn-to  {"place": "PM95", "longPath": false}
//   POST /api/login                 {"password": "..."}
//   POST /api/logout                {}
//   GET  /api/session               whether a password is needed and given
//   GET  /api/events                the WebSocket of status changes
//
// Invariants: every function is deterministic in its arguments; a body is
// read only as a JSON object, and a field of the wrong type is an error,
// never a default.

#include "station/CommandSurface.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

enum class TWebRoute {
  Page,
  List,
  Rotator,
  Target,
  Stop,
  Turn,
  Home,
  TurnTo,
  Login,
  Logout,
  Session,
  Events,
  // A path the server does not have (404).
  Unknown,
  // A path it has, with a method it does not take there (405).
  WrongMethod,
};

struct TWebRequestTarget {
  TWebRoute Route = TWebRoute::Unknown;
  // The rotator's index for the rotator routes; -1 otherwise.
  int Index = -1;
  // The route changes something: it must come as a POST with a JSON body.
  bool Posts = false;
};

// The route of Method ("GET", "POST", ...) on Path (without the query).
// An index that is not a whole number from 0 up is an unknown path.
TWebRequestTarget WebRoute(const QByteArray &Method, const QString &Path);

// An error answer: an HTTP status and the text of {"error": ...}.
struct TWebError {
  int Status = 400;
  QString Text;
};

// The JSON body of an error answer.
QByteArray WebErrorBody(const QString &Text);

// The HTTP status that fits a refusal of the command surface.
int WebStatusOf(TRefusal Refusal);
// The surface's refusal as an error answer with its reason.
TWebError WebRefusal(const TActResult &Result);

// Rotator Index's state as the interface shows it.
QJsonObject WebRotatorJson(int Index, const TRotatorStatus &Status);

// The longest body a request may carry.
constexpr qsizetype WebMaxBody = 4096;

// The body as a JSON object; an empty body is an empty object.
std::variant<QJsonObject, TWebError> WebJsonObject(const QByteArray &Body);

// What the action routes ask for, read from their bodies.
struct TWebTarget {
  double Azimuth = 0;
};
std::variant<TWebTarget, TWebError> WebTargetOf(const QJsonObject &Body);
std::variant<TTurn, TWebError> WebTurnOf(const QJsonObject &Body);
struct TWebTurnTo {
  QString Place;
  bool LongPath = false;
};
std::variant<TWebTurnTo, TWebError> WebTurnToOf(const QJsonObject &Body);
std::variant<QString, TWebError> WebPasswordOf(const QJsonObject &Body);

// The Content-Type of a request that changes something is JSON
// ("application/json", with or without parameters such as a charset).
bool WebIsJson(const QByteArray &ContentType);

// The Host header names the server: "localhost" or one of Addresses (the
// address listened on, or the machine's addresses when it listens on all),
// with or without a port. A name that is neither (a DNS name that may have
// been pointed at this machine by a foreign page) is refused.
bool WebHostAllowed(const QByteArray &Host, const QList<QHostAddress> &Addresses);

// The Origin of a WebSocket handshake is the page's own: the scheme the
// server speaks and the Host the request came to. A client without an Origin
// (no browser) passes; the Host check and the session still apply.
bool WebOriginAllowed(const QByteArray &Origin, const QByteArray &Host, bool Secure);

// The name of the session cookie.
inline constexpr char WebSessionCookie[] = "orbalt_session";
// The session token of a Cookie header; empty when there is none.
QByteArray WebSessionOf(const QByteArray &CookieHeader);
// The Set-Cookie value that gives a session (HttpOnly, SameSite=Strict, for
// the whole site; Secure over HTTPS). An empty token ends the session.
QByteArray WebSessionSetCookie(const QByteArray &Token, bool Secure);
