#pragma once
// Serial line port of a rotator controller.
//
// TComPortBase is the port component: open/close, purge, reads and writes on
// a QSerialPort, and the failure and line-error reports. TCPortX adds the
// line settings as text, the received-text event and the text-level reads
// and writes. Each character is one byte on the line (codes 0 to 255,
// Latin-1 in a QString).
//
// Nothing here waits inside a read or write of the device. A write hands its
// bytes to the device and returns. A read (BeginRead/BeginRecv) collects the
// bytes as the device's notifications bring them and reports its end to a
// callback, so the main thread goes on serving everything else meanwhile;
// nothing here runs a nested event loop. Close lets
// the bytes written before it leave the device (within the write bound)
// before it purges and closes the device underneath.
//
// Everything runs on the main thread. Reports (received bytes, failures,
// line errors, the end of a read) are handled only when the main thread
// processes events; bytes that arrive during a read go to that read before
// any received-text report sees them.

#include <QDeadlineTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <cstdint>
#include <functional>
#include <stdexcept>

class QTimer;

enum TComExceptions {
  CE_OpenFailed,
  CE_WriteFailed,
  CE_ReadFailed,
  CE_PurgeFailed,
  CE_SetStateFailed,
  CE_TimeoutsFailed,
  CE_SetupComFailed,
  CE_ClearComFailed,
  CEPortNotOpen
};

// Members of a line-error set, one bit each.
enum TComError : unsigned {
  ceFrame = 1u << 0,
  ceRxParity = 1u << 1,
  ceOverrun = 1u << 2,
  ceBreak = 1u << 3,
  ceIO = 1u << 4,
  ceMode = 1u << 5,
  ceRxOver = 1u << 6,
  ceTxFull = 1u << 7,
};
using TComErrors = unsigned;

// "<ComError:Frame,Overrun>", or "<Ok>" for an empty set.
QString ComErrorsToStr(TComErrors Errors);
// The message of the failure kind, "Unable to open com port", ...
QString ComExceptionMessage(TComExceptions Kind);

// Raised by a failing port operation when no OnException handler is set.
// what() is Message followed by " (Error: <WinError>)" when WinError > 0.
class ESerialPortError : public std::runtime_error {
public:
  ESerialPortError(TComExceptions Kind, const QString &Message, int64_t WinError);
  TComExceptions Kind;
  int64_t WinError;
};

using TComExceptionEvent =
    std::function<void(QObject *Sender, TComExceptions Kind, const QString &ComportMessage,
                       int64_t WinError, const QString &WinMessage)>;
using TComErrorEvent = std::function<void(QObject *Sender, TComErrors Errors)>;
using TRecvMsgEvent = std::function<void(QObject *Sender, const QString &RecvStr)>;

class TComPortBase : public QObject {
  Q_OBJECT
public:
  explicit TComPortBase(QObject *Owner = nullptr);
  ~TComPortBase() override;

  // Device name: a path starting with "/" as it stands; "COM1", "COM2", ...
  // (any letter case) are /dev/ttyS0, /dev/ttyS1, ...; any other name is
  // looked up under /dev. Setting another name while open reopens the port.
  QString Port() const;
  void SetPort(const QString &Name);
  // The device path that Port names on this platform.
  static QString DevicePath(const QString &PortName);

  // Opens the device. A port closed while its device still sends what was
  // written before the close takes the device up again as it is: those bytes
  // still go out, and the next Clear leaves them.
  void Open();
  void Close();
  bool Connected() const;
  // Discards everything in the input and output buffers (but for the bytes
  // kept by an open during the drain, see Open).
  void Clear();
  // Discards what waits in the input only (stale bytes before a query).
  void ClearInput();

  // Failure and line-error handlers; called on the main thread.
  TComExceptionEvent OnException;
  TComErrorEvent OnError;

  // A read is in progress.
  bool Reading() const { return FRead.Active; }
  // The port is closed, but the device still transmits what was written
  // before Close; it is purged and closed once that is out or the write
  // bound has passed. Open takes the device up again (see Open).
  bool Draining() const { return FDraining; }

signals:
  // Draining() became false.
  void DrainEnded();

public:
  // Called with the bytes of a read when it ends.
  using TReadDone = std::function<void(const QByteArray &Bytes)>;

protected:
  // Starts a read of up to Len bytes and returns at once. The read ends at
  // Len bytes, 100 ms after a byte without a further one, or 10 x Len +
  // 100 ms after it began; with StopAtLineEnd also after a CR, taking an LF
  // that has already arrived behind it. Done then gets the bytes, from the
  // event loop. Close ends a read with what it has, a failure with nothing.
  // The new read's Done is never called from inside BeginRead, and never
  // once the port is destroyed. One read at a time: a read still running is
  // ended first, its Done called with what it has. False when the port is
  // not open or has failed (the failure reported), or was closed by that
  // earlier Done; Done is then never called.
  bool BeginRead(int Len, bool StopAtLineEnd, TReadDone Done);
  // Hands the bytes to the device and returns. Each write has the bound
  // 10 x length + 100 ms, counted from the end of the bound of the writes
  // still queued before it (from now when nothing is queued). Bytes the port
  // still holds because the device takes nothing (its flow control, a full
  // buffer) when the bound of the latest write has passed are dropped, so
  // that they never reach the controller later, out of their exchange; the
  // device's own queue is left to it.
  void WriteBytes(const QByteArray &Data);
  // Received bytes that no read waited for, handled when the main thread
  // processes events: the derived port delivers or discards them.
  virtual void RxChar(int Count) = 0;
  // Reads the Count bytes waiting in the input (for RxChar).
  QByteArray ReadWaiting(int Count);
  // Called at the end of every Close, also of a port that is not open.
  virtual void AfterClose() {}

  // Line settings as the device takes them. Changing one through
  // SetLineSettings applies them at once while the port is open.
  struct TLineSettings {
    qint32 BaudRate = 9600;
    QSerialPort::DataBits DataBits = QSerialPort::Data8;
    QSerialPort::StopBits StopBits = QSerialPort::OneStop;
    QSerialPort::Parity Parity = QSerialPort::NoParity;
    // Flow control as its four switches; all off at creation.
    bool RtsHandshake = false;
    bool CtsFlow = false;
    bool XonXoffIn = false;
    bool XonXoffOut = false;
  };
  const TLineSettings &LineSettings() const { return FLine; }
  void SetLineSettings(const TLineSettings &Settings);

  QSerialPort *Device() const { return FDevice; }

private:
  enum TOperation { opNone, opOpen, opSetup, opWrite, opPurge, opClose };

  // Applies FLine and the modem lines (DTR off, RTS off unless the receive
  // handshake drives it); false with the system error code on failure.
  bool ApplyLineSettings(int64_t &Code);
  // False when the device has gone away (hang-up or error on its handle).
  bool DeviceStillThere() const;
  // Bytes written and not yet transmitted by the device.
  bool OutputQueued() const;
  // The device takes bytes now, without waiting.
  bool Writable() const;
  void WriteBoundPassed();
  void DrainTick();
  // Purges and closes a device that was draining.
  void FinishDrain();
  // The device is open: marks the port connected and applies its settings.
  void Reopened();
  // Takes what waits in the input into the read; true when the read is
  // complete. Otherwise its timer is set for its next bound.
  bool FeedRead();
  void ReadTimerFired();
  // Ends the read and calls its Done with what it got.
  void FinishRead();
  void BeginOp(TOperation Op);
  void EndOp();
  // The system error code of the error recorded during the operation.
  int64_t OpErrorCode(QSerialPort::SerialPortError Fallback) const;
  void Purge(QSerialPort::Directions Directions);
  // An I/O failure of the device during an operation: the device is given
  // up (it stays logically open until Close) and the failure reported.
  void IoFailed(TComExceptions Kind, int64_t Code);
  // An operation on a device that has already failed.
  void FailBroken(TComExceptions Kind);
  void GiveUpDevice(int64_t Code);
  // Reports a failure; from the event loop (MayRaise false) a failure with
  // no handler is logged, as no exception may cross the event loop.
  void Report(TComExceptions Kind, int64_t WinError, bool MayRaise);
  void CloseDevice(bool MayReport);

  void DeviceError(QSerialPort::SerialPortError Error);
  void DeviceReadyRead();
  void ScheduleHandOver();
  void HandOver();
  void ReportIdleFailure();
  // Starts the device's read notifications again after a read that would
  // have blocked stopped them.
  void ResumeReading();
  // Line errors counted by the driver since the last call.
  TComErrors TakeLineErrors();

  QSerialPort *FDevice;
  QString FPort = QStringLiteral("COM1");
  TLineSettings FLine;

  bool FConnected = false;
  // The device failed: it is closed underneath and every operation fails
  // with FBrokenCode until the port is closed.
  bool FBroken = false;
  int64_t FBrokenCode = 0;
  // A failure seen while no operation ran waits to be reported.
  bool FFailurePending = false;
  TComExceptions FPendingKind = CE_ReadFailed;

  // The read in progress.
  struct TRead {
    bool Active = false;
    int Len = 0;
    bool StopAtLineEnd = false;
    QByteArray Got;
    QDeadlineTimer Total;
    QDeadlineTimer Gap;
    TReadDone Done;
  } FRead;
  QTimer *FReadTimer;
  // The latest bound of the writes still queued; bytes the device has not
  // taken by then are dropped.
  QDeadlineTimer FWriteDeadline;
  QTimer *FWriteTimer;
  bool FDraining = false;
  // The device that drains.
  QString FDrainingPath;
  // Open took up a draining device: the next Clear keeps its output.
  bool FKeepOutput = false;
  QTimer *FDrainTimer;

  TOperation FOp = opNone;
  QSerialPort::SerialPortError FOpError = QSerialPort::NoError;
  int FOpErrno = 0;

  bool FHandOverPending = false;
  bool FInHandOver = false;
  bool FHandOverAgain = false;
  bool FReporting = false;

  // Interrupt counters of the device at the last look, where it has them.
  bool FHasCounters = false;
  int FFrameCount = 0;
  int FOverrunCount = 0;
  int FBreakCount = 0;
  int FBufOverrunCount = 0;
};

class TCPortX : public TComPortBase {
  Q_OBJECT
public:
  explicit TCPortX(QObject *Owner = nullptr);
  ~TCPortX() override;

  using TRecvDone = std::function<void(const QString &Text)>;
  // Starts a read of up to Len characters and returns at once; Done gets the
  // text (see BeginRead). The read ends at Len characters, 100 ms after a
  // character without a further one, or 10 x Len + 100 ms after it began;
  // with Line also as soon as a reply line is complete: at a CR, taking an
  // LF that has already arrived right after it.
  bool BeginRecv(int Len, bool Line, TRecvDone Done);
  // Hands the text to the device and returns (see WriteBytes).
  void SendStr(const QString &Str);

  // Line settings as text: case-insensitive first match in the text table,
  // the default on no match; reading gives the table's own text.
  QString BaudRate() const;
  void SetBaudRate(const QString &Value);
  QString DataBits() const;
  void SetDataBits(const QString &Value);
  QString StopBits() const;
  void SetStopBits(const QString &Value);
  QString Parity() const;
  void SetParity(const QString &Value);
  QString FlowControl() const;
  void SetFlowControl(const QString &Value);

  // Empty switches the received-character trigger off; otherwise on, with the
  // first character as event character.
  QString Delimiter() const;
  void SetDelimiter(const QString &Value);
  bool TriggersOnRxChar() const;
  void SetTriggersOnRxChar(bool Value);

  bool Active() const;
  void SetActive(bool Value);

  QString RecvMsg() const;
  TRecvMsgEvent OnRecvMsg;

protected:
  void RxChar(int Count) override;
  void AfterClose() override;

private:
  int FBaudIndex = 7;     // "9600"
  int FDataBitsIndex = 3; // "8"
  int FStopBitsIndex = 0; // "1"
  int FParityIndex = 0;   // "None"
  bool FActive = false;
  // Its first character is the event character; the line discipline has no
  // such event, so the text is only kept.
  QString FDelimiter;
  bool FTriggersOnRxChar = true;
  QString FRecvMsg;
};
