#pragma once
// Band following from the rig: a client of Hamlib's rigctld that asks for
// the rig's frequency ("f") about twice a second and hands it to the
// station (TStation::FollowFrequency), which runs the control table's lists
// when the frequency enters another row and makes that row's rotator the
// current one. Nothing turns by itself.
//
// A rigctld that can't be reached, or goes away, is tried again quietly
// every few seconds; State() tells how things stand, for the status bar.
// One question is out at a time, and an answer that is not a frequency is
// skipped.
//
// Main thread only; the station must outlive the follower.

#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

class TStation;

class TRigctldFollower : public QObject {
  Q_OBJECT
public:
  static constexpr quint16 DefaultPort = 4532;

  TRigctldFollower(TStation &Station, QString Host, quint16 Port, QObject *Parent = nullptr);
  // Closes the connection without reacting to its end.
  ~TRigctldFollower() override;

  // Starts connecting; retries on its own from here on.
  void Start();
  // "rigctld 127.0.0.1:4532: 14.025000 MHz", "... connecting", "... not
  // reachable, trying again".
  QString State() const { return FState; }
  // The last frequency read, in Hz; 0 before the first.
  qint64 Frequency() const { return FFrequency; }
  // A frequency is being followed (a message box it raises may run a nested
  // event loop): the follower must not be freed now.
  bool Busy() const { return FHandling > 0; }

signals:
  void StateChanged(const QString &State);

private:
  void Connect();
  void Ask();
  void Read();
  void Lost();
  void SetState(const QString &State);

  TStation &FStation;
  QString FHost;
  quint16 FPort;
  QTcpSocket FSocket;
  QTimer FPoll;
  QTimer FRetry;
  bool FWaiting = false;
  QElapsedTimer FAsked;
  qint64 FFrequency = 0;
  int FHandling = 0;
  QString FState;
};
