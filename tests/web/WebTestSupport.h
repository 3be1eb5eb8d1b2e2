#pragma once
// A plain HTTP/1.1 client on a socket for the web server's tests: it sends
// exactly the bytes a test asks for (any Host, any Content-Type, a bad
// body) and reads one answer by its Content-Length. Waits keep the main
// thread's events running, since the server lives on it.

#include "remote/RotctldTestSupport.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QSslSocket>
#include <QTcpSocket>

namespace web_test {

using rotctld_test::WaitFor;

struct THttpAnswer {
  int Status = 0;
  QList<std::pair<QByteArray, QByteArray>> Headers;
  QByteArray Body;

  QByteArray Header(const QByteArray &Name) const {
    for (const auto &[Key, Value] : Headers)
      if (Key.compare(Name, Qt::CaseInsensitive) == 0)
        return Value;
    return {};
  }
  QJsonObject Json() const { return QJsonDocument::fromJson(Body).object(); }
  QString Error() const { return Json().value(QStringLiteral("error")).toString(); }
};

struct THttpRequest {
  QByteArray Method = "GET";
  QByteArray Path = "/";
  QByteArray Host = "127.0.0.1";
  QByteArray ContentType;
  QByteArray Cookie;
  QByteArray Body;
};

// Sends Request on a new connection to Port and reads the answer; Status 0
// when none came. Secure: over TLS, trusting Certificate alone.
inline THttpAnswer Exchange(quint16 Port, const THttpRequest &Request, bool Secure = false,
                            const QList<QSslCertificate> &Certificate = {}) {
  QSslSocket Socket;
  THttpAnswer Answer;
  if (Secure) {
    QSslConfiguration Config = Socket.sslConfiguration();
    Config.setCaCertificates(Certificate);
    Socket.setSslConfiguration(Config);
    Socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), Port);
    if (!WaitFor([&] { return Socket.isEncrypted(); }))
      return Answer;
  } else {
    Socket.connectToHost(QHostAddress(QHostAddress::LocalHost), Port);
    if (!WaitFor([&] { return Socket.state() == QAbstractSocket::ConnectedState; }))
      return Answer;
  }
  QByteArray Bytes = Request.Method + ' ' + Request.Path + " HTTP/1.1\r\n";
  if (!Request.Host.isNull())
    Bytes += "Host: " + Request.Host + "\r\n";
  if (!Request.ContentType.isEmpty())
    Bytes += "Content-Type: " + Request.ContentType + "\r\n";
  if (!Request.Cookie.isEmpty())
    Bytes += "Cookie: " + Request.Cookie + "\r\n";
  Bytes += "Content-Length: " + QByteArray::number(Request.Body.size()) + "\r\n\r\n";
  Bytes += Request.Body;
  Socket.write(Bytes);

  QByteArray Received;
  qsizetype HeaderEnd = -1;
  qsizetype Length = -1;
  WaitFor([&] {
    Received += Socket.readAll();
    if (HeaderEnd < 0 && (HeaderEnd = Received.indexOf("\r\n\r\n")) >= 0) {
      const QList<QByteArray> Lines = Received.left(HeaderEnd).split('\n');
      Answer.Status = Lines.value(0).split(' ').value(1).toInt();
      for (qsizetype I = 1; I < Lines.size(); ++I) {
        const QByteArray Line = Lines[I].trimmed();
        const qsizetype Colon = Line.indexOf(':');
        if (Colon > 0)
          Answer.Headers.append({Line.left(Colon).trimmed(), Line.mid(Colon + 1).trimmed()});
      }
      Length = Answer.Header("Content-Length").toLongLong();
    }
    return (HeaderEnd >= 0 && Received.size() - HeaderEnd - 4 >= Length) ||
           Socket.state() == QAbstractSocket::UnconnectedState;
  });
  if (HeaderEnd >= 0)
    Answer.Body = Received.mid(HeaderEnd + 4, Length);
  return Answer;
}

// A JSON POST as the page sends it.
inline THttpRequest Post(const QByteArray &Path, const QByteArray &Body,
                         const QByteArray &Cookie = {}) {
  THttpRequest R;
  R.Method = "POST";
  R.Path = Path;
  R.ContentType = "application/json";
  R.Body = Body;
  R.Cookie = Cookie;
  return R;
}

inline THttpRequest Get(const QByteArray &Path, const QByteArray &Cookie = {}) {
  THttpRequest R;
  R.Path = Path;
  R.Cookie = Cookie;
  return R;
}

} // namespace web_test
