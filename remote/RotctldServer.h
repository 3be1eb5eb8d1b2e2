#pragma once
// Network control of the rotators through the rotctld protocol: one TCP
// server per rotator, so that satellite trackers and logging programs that
// speak the protocol drive the rotators with their offsets, command lists and
// relay box.
//
// Rotator i listens on the base port + 2 i (base 4533, the protocol's own
// default; the odd ports in between stay free for radio servers), by default
// on the loopback address only. A base port of 0 lets every server take any
// free port.
//
// A server belongs to the rotator that stood at its index when the server
// took it. When another rotator comes to that index (a rotator inserted,
// deleted or moved), the server's clients are disconnected, so that a client
// never turns a rotator it did not connect to; Sync brings the servers in
// line with the workspace, and a command that finds its rotator gone answers
// "RPRT -9" and ends the connection.
//
// Commands (letter or long name): p get_pos, P set_pos, S stop, K park,
// M move, w send_cmd, _ get_info, 1 dump_caps, dump_state, s get_status,
// q quit. The commands that act on the rotator go through the station's
// command surface, which decides (enabled, open, the azimuth within the
// rotator's travel); a refusal answers "RPRT -9" followed by the station's
// reason ("RPRT -9 Tower is not open"), an azimuth the rotator
// can't take "RPRT -1". get_pos answers
// "RPRT -9" for a closed port and "RPRT -5" (timeout) while the controller
// does not answer its polls ("not responding").
//
// Input is read line by line. NUL bytes are skipped wherever they stand. A
// line holding other bytes than printable ASCII and blanks is answered
// "RPRT -8" and not run; the connection goes on. A line longer than 1 KiB
// ends the connection with "RPRT -8". Nothing of a refused line reaches the
// rotator. A client may send any number of lines ahead of the answers: while
// MaxPendingLines of them wait, nothing more is read from its socket, so the
// rest stays with the network (and slows the sender down) instead of piling
// up here. A client that leaves more than MaxUnreadAnswers of answers unread
// is disconnected.
//
// Each rotator serves MaxClients clients at a time. A connection that sends
// nothing for the idle time-out (a minute by default; trackers poll every
// second or so) is closed. When every place is taken, a new client takes the
// place of the connection that has been idle longest, so that clients that
// went silent without closing never lock the port; a connection whose
// command is running is not idle and is never closed under it. Only when
// every connection runs a command does a new client get "RPRT -9" and is
// disconnected.
//
// Everything runs on the main thread. Commands may run command lists whose
// WAIT items process events, so further commands, connections and changes of
// the workspace can arrive in the middle of a command: each connection runs
// its commands one after the other, and no server or connection is freed
// while any command runs (a connection closed for idleness or to make room
// included).

#include "remote/Orbalt.h"
#include "remote/RotctldProtocol.h"
#include "rotator/Gs232.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <vector>

class QTcpServer;
class QTcpSocket;
class TRotctldServers;
class TRotctldServer;

// One client's connection.
class TRotctldConnection : public QObject {
public:
  // Takes Socket over.
  TRotctldConnection(TRotctldServer &Server, QTcpSocket *Socket);

  // Closes the connection after what was already answered; nothing more is
  // read or run.
  void Finish();
  bool Finished() const { return FFinished; }
  // A command of this connection is running.
  bool Running() const { return FRunning; }
  // When input last came or a command last ended, as a number from the
  // server's count of such events: the lowest has been idle longest.
  quint64 LastActive() const { return FLastActive; }

private:
  void ReadInput();
  // Moves input from the socket into FBuffer until MaxPendingLines lines wait
  // there or an unfinished line has grown too long; the rest stays unread.
  void TakeInput();
  void RunLines();
  // Answers "RPRT Code" and closes.
  void Fail(int Code);
  void Disconnected();
  // Marks the connection as active now and starts its idle time anew.
  void Touch();
  void IdleTimeout();

  TRotctldServer &FServer;
  QTcpSocket *FSocket;
  // Input taken from the socket and not yet run, NUL bytes dropped.
  QByteArray FBuffer;
  QTimer FIdleTimer;
  quint64 FLastActive = 0;
  bool FRunning = false;
  bool FFinished = false;
  bool FDisposed = false;
};

// The server of one rotator.
class TRotctldServer : public QObject {
public:
  // The server of the rotator named Rotator (its RotatorId) at Index.
  TRotctldServer(TRotctldServers &Owner, int Index, quint64 Rotator);
  ~TRotctldServer() override;

  // Starts listening; false with the reason in ErrorString.
  bool Listen(const QHostAddress &Address, quint16 Port);
  QString ErrorString() const;
  // The port listened on; 0 while not listening.
  quint16 Port() const;
  int Index() const { return FIndex; }
  quint64 Rotator() const { return FRotator; }
  // Connections that are not finished.
  int ClientCount() const;

  // Another rotator now stands at this index: the clients are disconnected.
  void Rebind(quint64 Rotator);
  // Stops listening and disconnects every client.
  void Retire();
  bool Retired() const { return FRetired; }

  // Runs one command. Close is set when the connection should end after
  // the answer.
  TRotctldReply Execute(const TRotctldRequest &Request, bool &Close);

  TRotctldServers &Owner() { return FOwner; }
  // The next number of the count that orders the connections' activity.
  quint64 NextActivity() { return ++FActivity; }

private:
  friend class TRotctldConnection;
  void AcceptConnections();
  // The connection idle longest, leaving out those whose command runs; null
  // when there is none.
  TRotctldConnection *LongestIdle() const;
  // The rotator of this server still stands at its index.
  bool IsCurrent() const;
  TRotctldReply Run(const TRotctldRequest &Request, const TRotatorStatus &Status);
  // The station's result in the protocol's terms.
  static TRotctldReply Answer(const TActResult &Result);

  TRotctldServers &FOwner;
  int FIndex;
  quint64 FRotator;
  QTcpServer *FServer;
  std::vector<QPointer<TRotctldConnection>> FConnections;
  quint64 FActivity = 0;
  bool FRetired = false;
};

// The servers of all rotators of a workspace.
class TRotctldServers : public QObject {
  Q_OBJECT
public:
  // At most this many clients per rotator.
  static constexpr int MaxClients = 8;
  // At most this many lines of a client are taken from its socket ahead of
  // the answers; the rest is read as they are answered.
  static constexpr int MaxPendingLines = 32;
  // A client that leaves more than this many bytes of answers unread is
  // disconnected.
  static constexpr qint64 MaxUnreadAnswers = 64 * 1024;

  struct TOptions {
    QHostAddress Address = QHostAddress(QHostAddress::LocalHost);
    // 0: every server takes any free port.
    int BasePort = 4533;
    // A connection that sends nothing for this long, while none of its
    // commands runs, is closed.
    int IdleTimeoutMs = 60 * 1000;
  };

  // Starts nothing; Sync starts the servers.
  TRotctldServers(TCommandSurface &Surface, const TOptions &Options,
                  QObject *Parent = nullptr);
  ~TRotctldServers() override;

  // Brings the servers in line with the workspace's rotators: a server for
  // each new rotator, the clients of a server whose rotator changed
  // disconnected, the servers of rotators that are gone stopped. The servers
  // that can't listen are reported together in one Message.
  void Sync();
  // Runs Sync once control is back in the event loop.
  void ScheduleSync();
  // Stops every server for good.
  void Stop();

  int ServerCount() const { return static_cast<int>(FServers.size()); }
  // The server of rotator Index, or null.
  TRotctldServer *Server(int Index) const;
  // The port rotator Index listens on; 0 when it does not.
  quint16 Port(int Index) const;
  // The port rotator Index is meant to listen on: the base port + 2 Index
  // (0 with base port 0); -1 when that lies beyond the last port.
  int WantedPort(int Index) const;

  const TOptions &Options() const { return FOptions; }
  TCommandSurface &Surface() { return FSurface; }
  TOrbalt &Automation() { return FOrbalt; }

  // Frees a finished connection or a retired server once no command runs.
  void Dispose(QObject *Object);
  // Counts the commands in progress; freeing waits until none runs.
  void BeginCommand() { ++FRunning; }
  void EndCommand();
  // A command is in progress (a message box it raises may run a nested event
  // loop).
  bool Busy() const { return FRunning > 0; }

signals:
  // A problem for the operator: servers that could not listen.
  void Message(const QString &Text);

private:
  TCommandSurface &FSurface;
  TOrbalt FOrbalt;
  TOptions FOptions;
  std::vector<QPointer<TRotctldServer>> FServers;
  std::vector<QPointer<QObject>> FDisposed;
  QTimer FSyncTimer;
  int FRunning = 0;
  bool FStopped = false;
};
