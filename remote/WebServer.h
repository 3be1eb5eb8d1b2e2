#pragma once
// The web page's server: one HTTP(S) listener that serves the page, the
// JSON interface of remote/WebApi.h on the station's rotators and the
// WebSocket /api/events, which pushes a rotator's state whenever the
// station reports a change of it (no polling).
//
// Every action goes through the station's command surface (TurnTo through
// the station), so the page obeys every rule the window obeys; a refusal
// answers the surface's reason as {"error": ...} with a fitting 4xx status.
//
// What every request passes first, in this order: its Host header names the
// server (DNS rebinding), the path and method exist (404, 405), a body fits
// WebMaxBody (413; a connection that sends more than a few kB without
// completing a request is cut off with 413 as the bytes come), the session
// when a password is set (401), then for a request that changes something
// the Content-Type is JSON (415) and the body a JSON object of the right
// fields (400). Nothing that fails a check
// reaches a serial line. The WebSocket checks the Host, its Origin and the
// session, and is answered 404, 403 or 401 otherwise.
//
// Invariants:
// - Without a password it listens on a loopback address only: Start refuses
//   any other address.
// - The password is known only as its salted hash; a login that fails makes
//   the next attempt from that address wait (1 s, doubling up to a minute;
//   429 meanwhile), so guessing is slow.
// - Sessions are random 128-bit tokens in an HttpOnly, SameSite=Strict
//   cookie, kept in memory only: a restart of the program asks again.
// - A WebSocket client that leaves more than MaxUnsentBytes unread is
//   dropped; a state equal to the last one pushed for that rotator is not
//   pushed again.
//
// Everything runs on the main thread. An action may run command lists whose
// WAIT items process events: other requests are served meanwhile, the
// socket of the waiting request may go (its answer is then dropped), and
// Busy tells the owner not to free the server under it.

#include "remote/WebApi.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <vector>

class QHttpServerRequest;
class QTcpSocket;
class QWebSocket;
class TStation;
class TWebHttp;

class TWebServer : public QObject {
  Q_OBJECT
public:
  struct TOptions {
    QHostAddress Address = QHostAddress(QHostAddress::LocalHost);
    // 0: any free port.
    quint16 Port = 0;
    // The password's hash (remote/WebPassword.h); empty for none.
    QString PasswordHash;
    // PEM files; both set for HTTPS.
    QString CertificateFile;
    QString KeyFile;
    // The wait after the first failed login; it doubles with each further
    // failure from the same address, up to MaxLoginDelayMs.
    int LoginDelayMs = 1000;
    int MaxLoginDelayMs = 60 * 1000;
  };

  // At most this many WebSocket clients at once; further ones are closed.
  static constexpr int MaxClients = 100;
  // A client with more than this unsent is dropped.
  static constexpr qint64 MaxUnsentBytes = 256 * 1024;
  // At most this many sessions; a new one replaces the one unused longest.
  static constexpr int MaxSessions = 64;

  // Nothing listens until Start.
  TWebServer(TStation &Station, TOptions Options, QObject *Parent = nullptr);
  ~TWebServer() override;

  // Starts listening; false with the reason in Error.
  bool Start(QString *Error);
  // The port listened on; 0 while not listening.
  quint16 Port() const;
  bool Secure() const { return FSecure; }
  // WebSocket clients connected and accepted.
  int ClientCount() const;
  // An action is in progress (it may wait in a nested event loop).
  bool Busy() const { return FRunning > 0; }

  // Called by the HTTP layer for each complete request: answers it, or
  // (false) refuses a WebSocket handshake after answering it.
  bool Handle(const QHttpServerRequest &Request, QTcpSocket *Socket);

private:
  struct TAnswer {
    int Status = 200;
    QByteArray Body;
    QByteArray ContentType = "application/json";
    QList<std::pair<QByteArray, QByteArray>> Headers;
  };
  static TAnswer Json(const QJsonObject &Object, int Status = 200);
  static TAnswer Fail(const TWebError &Error);
  static TAnswer Fail(int Status, const QString &Text);

  // The answer to a request that passed the Host check.
  TAnswer Answer(const QByteArray &Method, const QString &Path,
                 const QList<std::pair<QByteArray, QByteArray>> &Headers, const QByteArray &Body,
                 const QHostAddress &Peer);
  TAnswer Act(const TWebRequestTarget &Target, const QJsonObject &Body);
  TAnswer Login(const QJsonObject &Body, const QHostAddress &Peer);
  TAnswer RotatorAnswer(int Index);
  void Write(QTcpSocket *Socket, const QHttpServerRequest &Request, const TAnswer &Answer,
             bool Head);

  bool PasswordSet() const { return !FOptions.PasswordHash.isEmpty(); }
  // The session named in Cookie is known (and is used now).
  bool ValidSession(const QByteArray &CookieHeader);
  QByteArray NewSession();
  // The addresses a Host header may name.
  QList<QHostAddress> HostAddresses() const;

  void AcceptWebSockets();
  void PushRotator(int Index);
  void PushAll();
  void Send(QWebSocket *Client, const QByteArray &Message);
  QJsonObject AllRotators() const;

  TStation &FStation;
  TOptions FOptions;
  std::unique_ptr<TWebHttp> FHttp;
  bool FSecure = false;
  int FRunning = 0;
  QByteArray FPage;
  // Session token and when it was last used.
  QHash<QByteArray, qint64> FSessions;
  QElapsedTimer FClock;
  struct TFailures {
    int Count = 0;
    qint64 Until = 0; // on FClock
  };
  QHash<QString, TFailures> FFailures;
  std::vector<QPointer<QWebSocket>> FClients;
  // The last state pushed for each rotator.
  QList<QJsonObject> FPushed;
  QTimer FListTimer;
};
