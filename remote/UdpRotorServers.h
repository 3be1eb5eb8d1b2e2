#pragma once
// The UDP servers logging and contest programs steer the station's rotators
// through (the message formats are in RotorMessages.h):
//
// - TPstServer: PstRotator's messages, by default on port 12000. Replies
//   (the azimuth asked for with "AZ?") go to the sender's address on its
//   port + 1. It steers one rotator: a chosen one, or the current one.
// - TN1mmListener: N1MM Logger's rotor messages, by default on port 12040,
//   steering the rotator whose title the message names; its "freqband"
//   feeds the station's band following. The heading of every open rotator
//   goes back as "Title @ heading*10" to 127.0.0.1 on the status port (by
//   default 13010) while it moves and every few seconds when it is still.
//
// Both open their port shared (address reuse), so that several programs can
// listen to the same messages. A datagram that can't be read (over 2 KiB,
// malformed, out of range), names no rotator of the station, or asks a
// rotator that is not enabled and open is ignored and counted: nothing of
// it reaches a serial line.
//
// Main thread only; the station must outlive the servers.

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

class TStation;

// What both servers share: the socket and the count of ignored datagrams.
class TUdpRotorServer : public QObject {
  Q_OBJECT
public:
  // Listens on Address:Port (0: any free port); false with the reason.
  bool Start(const QHostAddress &Address, quint16 Port, QString *Error = nullptr);
  quint16 Port() const { return FSocket.localPort(); }
  // Datagrams ignored since the start, and the last reason.
  int Ignored() const { return FIgnored; }
  // A datagram is being carried out (a message box it raises may run a
  // nested event loop): the server must not be freed now.
  bool Busy() const { return FHandling > 0; }
  QString LastIgnored() const { return FLastIgnored; }

signals:
  void IgnoredChanged(int Count);

protected:
  TUdpRotorServer(TStation &Station, QObject *Parent);
  // Handles one datagram from Sender:SenderPort; returns the reason when it
  // is ignored, else an empty text.
  virtual QString Handle(const QByteArray &Datagram, const QHostAddress &Sender,
                         quint16 SenderPort) = 0;

  TStation &FStation;
  QUdpSocket FSocket;

private:
  void ReadPending();

  int FIgnored = 0;
  int FHandling = 0;
  QString FLastIgnored;
};

class TPstServer : public TUdpRotorServer {
  Q_OBJECT
public:
  static constexpr quint16 DefaultPort = 12000;
  // Steers rotator Rotator (0-based), or the current one when it is -1.
  TPstServer(TStation &Station, int Rotator = -1, QObject *Parent = nullptr);

protected:
  QString Handle(const QByteArray &Datagram, const QHostAddress &Sender,
                 quint16 SenderPort) override;

private:
  int FRotator;
};

class TN1mmListener : public TUdpRotorServer {
  Q_OBJECT
public:
  static constexpr quint16 DefaultPort = 12040;
  static constexpr quint16 DefaultStatusPort = 13010;
  // Heading reports go to 127.0.0.1:StatusPort (none when it is 0).
  TN1mmListener(TStation &Station, quint16 StatusPort = DefaultStatusPort,
                QObject *Parent = nullptr);

protected:
  QString Handle(const QByteArray &Datagram, const QHostAddress &Sender,
                 quint16 SenderPort) override;

private:
  // The rotator titled Title, or -1.
  int RotatorTitled(const QString &Title) const;
  void Report(int Index);
  void ReportAll();

  quint16 FStatusPort;
  QUdpSocket FReports;
  QTimer FStillReports;
};
