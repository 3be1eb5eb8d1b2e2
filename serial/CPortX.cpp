#include "serial/CPortX.h"

#include "base/UiServices.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTimer>
#include <QtGlobal>

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>

namespace {

// System code of "port not open"; negative, so a raised message has no suffix.
constexpr int64_t PortNotOpenCode = -24;
// A read ends this long after a byte without a further one.
constexpr qint64 ReadIntervalMs = 100;
// Total bounds of a read or write of n bytes: n x multiplier + constant.
constexpr qint64 TotalMultiplierMs = 10;
constexpr qint64 TotalConstantMs = 100;
// A closed port looks this often, at most, whether its device has
// transmitted what was written before the close.
constexpr qint64 DrainPollMaxMs = 20;

// The total bound of a read or write of Len bytes.
qint64 BoundMs(int Len) { return TotalMultiplierMs * qMax(Len, 0) + TotalConstantMs; }

// A remaining time as a timer's interval.
int TimerMs(qint64 Ms) { return int(std::clamp<qint64>(Ms, 0, INT_MAX)); }

QString SystemMessage(int64_t Code) {
  if (Code <= 0 || Code > INT_MAX)
    return {};
  return QString::fromStdString(std::generic_category().message(int(Code)));
}

// The system error code behind an error of the serial device. Qt does not
// hand out errno, and the errno seen with its error signal can be left over
// from an earlier call (a hang-up of the device shows as a read of 0 bytes),
// so the kind decides and errno is taken only where it fits the kind.
int64_t SystemCode(QSerialPort::SerialPortError Error, int Errno) {
  switch (Error) {
  case QSerialPort::DeviceNotFoundError:
    return ENOENT;
  case QSerialPort::PermissionError:
    // Also a port that another process holds: its lock file or exclusive use.
    return (Errno == EACCES || Errno == EPERM) ? Errno : EBUSY;
  case QSerialPort::OpenError:
    return EBUSY;
  case QSerialPort::ReadError:
  case QSerialPort::WriteError:
  case QSerialPort::ResourceError:
    switch (Errno) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
    case EBADF:
      return Errno;
    default:
      return EIO;
    }
  case QSerialPort::UnsupportedOperationError:
    // Also a setting the device did not take over, with no errno of its own.
    return EINVAL;
  default:
    return Errno > 0 ? Errno : EIO;
  }
}

// Text tables of the line settings; the position in a table is the value.
const std::array<const char *, 16> BaudTexts = {
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
// "Custom" runs at the custom rate, which stays 9600.
const std::array<qint32, 16> BaudValues = {9600,  110,    300,    600,   1200,  2400,
                                           4800,  9600,   14400,  19200, 38400, 56000,
                                           57600, 115200, 128000, 256000};
constexpr int BaudDefault = 7;

const std::array<const char *, 4> DataBitsTexts = {"5", "6", "7", "8"};
const std::array<QSerialPort::DataBits, 4> DataBitsValues = {
    QSerialPort::Data5, QSerialPort::Data6, QSerialPort::Data7, QSerialPort::Data8};
constexpr int DataBitsDefault = 3;

const std::array<const char *, 3> StopBitsTexts = {"1", "1.5", "2"};
const std::array<QSerialPort::StopBits, 3> StopBitsValues = {
    QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop};
constexpr int StopBitsDefault = 0;

const std::array<const char *, 5> ParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
const std::array<QSerialPort::Parity, 5> ParityValues = {
    QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity, QSerialPort::MarkParity,
    QSerialPort::SpaceParity};
constexpr int ParityDefault = 0;

enum { fcHardware, fcSoftware, fcNone, fcCustom };
const std::array<const char *, 4> FlowTexts = {"Hardware", "Software", "None", "Custom"};

// First entry equal to Text regardless of letter case, else Default.
template <size_t N>
int FindText(const std::array<const char *, N> &Table, const QString &Text, int Default) {
  for (size_t I = 0; I < N; ++I)
    if (Text.compare(QLatin1String(Table[I]), Qt::CaseInsensitive) == 0)
      return int(I);
  return Default;
}

} // namespace

QString ComErrorsToStr(TComErrors Errors) {
  static const std::array<std::pair<TComError, const char *>, 8> Names = {{
      {ceFrame, "Frame"},
      {ceRxParity, "Parity"},
      {ceOverrun, "Overrun"},
      {ceBreak, "Break"},
      {ceIO, "IO"},
      {ceMode, "Mode"},
      {ceRxOver, "RxOver"},
      {ceTxFull, "TxFull"},
  }};
  QStringList Members;
  for (const auto &[Bit, Name] : Names)
    if (Errors & Bit)
      Members << QLatin1String(Name);
  if (Members.isEmpty())
    return QStringLiteral("<Ok>");
  return QStringLiteral("<ComError:") + Members.join(QLatin1Char(',')) + QLatin1Char('>');
}

QString ComExceptionMessage(TComExceptions Kind) {
  switch (Kind) {
  case CE_OpenFailed:
    return QStringLiteral("Unable to open com port");
  case CE_WriteFailed:
    return QStringLiteral("WriteFile function failed");
  case CE_ReadFailed:
    return QStringLiteral("ReadFile function failed");
  case CE_PurgeFailed:
    return QStringLiteral("PurgeComm function failed");
  case CE_SetStateFailed:
    return QStringLiteral("SetCommState function failed");
  case CE_TimeoutsFailed:
    return QStringLiteral("SetCommTimeouts failed");
  case CE_SetupComFailed:
    return QStringLiteral("SetupComm function failed");
  case CE_ClearComFailed:
    return QStringLiteral("ClearCommError function failed");
  case CEPortNotOpen:
    return QStringLiteral("Port Not Open");
  }
  return {};
}

static std::string ErrorText(const QString &Message, int64_t WinError) {
  QString Text = Message;
  if (WinError > 0)
    Text += QStringLiteral(" (Error: %1)").arg(WinError);
  return Text.toStdString();
}

ESerialPortError::ESerialPortError(TComExceptions Kind, const QString &Message, int64_t WinError)
    : std::runtime_error(ErrorText(Message, WinError)), Kind(Kind), WinError(WinError) {}

// ---------------------------------------------------------------------------
// TComPortBase

TComPortBase::TComPortBase(QObject *Owner)
    : QObject(Owner), FDevice(new QSerialPort(this)), FReadTimer(new QTimer(this)),
      FWriteTimer(new QTimer(this)), FDrainTimer(new QTimer(this)) {
  connect(FDevice, &QSerialPort::errorOccurred, this, &TComPortBase::DeviceError);
  connect(FDevice, &QSerialPort::readyRead, this, &TComPortBase::DeviceReadyRead);
  for (QTimer *Timer : {FReadTimer, FWriteTimer, FDrainTimer}) {
    Timer->setSingleShot(true);
    Timer->setTimerType(Qt::PreciseTimer);
  }
  connect(FReadTimer, &QTimer::timeout, this, &TComPortBase::ReadTimerFired);
  connect(FWriteTimer, &QTimer::timeout, this, &TComPortBase::WriteBoundPassed);
  connect(FDrainTimer, &QTimer::timeout, this, &TComPortBase::DrainTick);
}

TComPortBase::~TComPortBase() {
  // Nothing may be raised or reported from here, and a read's callback
  // belongs to an owner that may be going away too: it is dropped.
  FRead.Done = nullptr;
  CloseDevice(false);
  // What a closed port was still transmitting is dropped: a port that is
  // destroyed sends nothing more.
  if (FDraining)
    FinishDrain();
}

QString TComPortBase::Port() const { return FPort; }

void TComPortBase::SetPort(const QString &Name) {
  if (Name == FPort)
    return;
  FPort = Name;
  if (FConnected) {
    QPointer<TComPortBase> Self(this);
    Close();
    if (Self)
      Open();
  }
}

QString TComPortBase::DevicePath(const QString &PortName) {
  if (PortName.startsWith(QLatin1Char('/')))
    return PortName;
  static const QRegularExpression ComName(QStringLiteral("^com([1-9][0-9]{0,8})$"),
                                          QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch Match = ComName.match(PortName);
  if (Match.hasMatch())
    return QStringLiteral("/dev/ttyS") + QString::number(Match.captured(1).toLongLong() - 1);
  return QStringLiteral("/dev/") + PortName;
}

bool TComPortBase::Connected() const { return FConnected; }

void TComPortBase::Open() {
  if (FConnected)
    return;
  if (FDraining && FDrainingPath == DevicePath(FPort)) {
    // The device still sends what the close wrote: the port takes it up
    // again as it is, so that those bytes still go out, rather than purge
    // them and open the device anew.
    FDraining = false;
    FDrainTimer->stop();
    QMetaObject::invokeMethod(this, &TComPortBase::DrainEnded, Qt::QueuedConnection);
    FKeepOutput = true;
    Reopened();
    return;
  }
  if (FDraining)
    FinishDrain();
  FDevice->setPortName(DevicePath(FPort));
  // The device opens with plain settings; the port's own are applied right
  // after, so that a setting the device refuses is told apart from a device
  // that cannot be opened.
  FDevice->setBaudRate(9600);
  FDevice->setDataBits(QSerialPort::Data8);
  FDevice->setStopBits(QSerialPort::OneStop);
  FDevice->setParity(QSerialPort::NoParity);
  FDevice->setFlowControl(QSerialPort::NoFlowControl);

  BeginOp(opOpen);
  const bool Opened = FDevice->open(QIODevice::ReadWrite);
  const int64_t OpenCode = Opened ? 0 : OpErrorCode(FDevice->error());
  EndOp();
  if (!Opened) {
    FDevice->clearError();
    Report(CE_OpenFailed, OpenCode, true);
    return;
  }
  Reopened();
}

void TComPortBase::Reopened() {
  FConnected = true;
  FBroken = false;
  FFailurePending = false;

  // Buffer sizes and timeouts need no call here: the kernel keeps its own
  // buffers, and the read and write bounds are kept by the port's timers.
  int64_t Code = 0;
  if (!ApplyLineSettings(Code)) {
    BeginOp(opClose);
    FDevice->close();
    EndOp();
    FConnected = false;
    Report(CE_SetStateFailed, Code, true);
    return;
  }

  serial_icounter_struct Counters{};
  FHasCounters = ::ioctl(FDevice->handle(), TIOCGICOUNT, &Counters) == 0;
  if (FHasCounters) {
    FFrameCount = Counters.frame;
    FOverrunCount = Counters.overrun;
    FBreakCount = Counters.brk;
    FBufOverrunCount = Counters.buf_overrun;
  }
}

void TComPortBase::Close() { CloseDevice(true); }

void TComPortBase::CloseDevice(bool MayReport) {
  if (!FConnected) {
    AfterClose();
    return;
  }
  // Marked closed first: a report handler that closes again finds nothing to do.
  FConnected = false;
  FKeepOutput = false;
  FFailurePending = false;
  bool PurgeFailed = false;
  int64_t Code = 0;
  if (FDevice->isOpen()) {
    // What was written before the close still goes out: a command followed
    // at once by a close (the home command at the end of the program) must
    // reach the controller. The device is purged and closed once it is out.
    const bool Drain = !FBroken && MayReport && OutputQueued() && !FWriteDeadline.hasExpired();
    if (!FBroken) {
      BeginOp(opPurge);
      PurgeFailed = !FDevice->clear(Drain ? QSerialPort::Input : QSerialPort::AllDirections);
      if (PurgeFailed)
        Code = OpErrorCode(QSerialPort::ResourceError);
      EndOp();
    }
    if (Drain && !PurgeFailed) {
      FDraining = true;
      FDrainingPath = DevicePath(FPort);
      DrainTick();
    } else {
      BeginOp(opClose);
      FDevice->close();
      EndOp();
    }
  }
  FWriteTimer->stop();
  FBroken = false;
  FBrokenCode = 0;
  FHasCounters = false;
  AfterClose();
  QPointer<TComPortBase> Self(this);
  FinishRead();
  if (Self && PurgeFailed && MayReport)
    Report(CE_PurgeFailed, Code, true);
}

bool TComPortBase::OutputQueued() const {
  if (!FDevice->isOpen())
    return false;
  if (FDevice->bytesToWrite() > 0)
    return true;
  int Queued = 0;
  // Devices that do not count their queue (a pseudo-terminal says 0) are
  // taken as transmitted.
  const int Handle = int(FDevice->handle());
  return Handle >= 0 && ::ioctl(Handle, TIOCOUTQ, &Queued) == 0 && Queued > 0;
}

void TComPortBase::DrainTick() {
  if (!FDraining)
    return;
  if (!OutputQueued() || FWriteDeadline.hasExpired()) {
    FinishDrain();
    return;
  }
  // Looks again after about the line time of what is queued (10 bits a byte).
  int Queued = 1;
  ::ioctl(int(FDevice->handle()), TIOCOUTQ, &Queued);
  const qint32 Baud = qMax<qint32>(FDevice->baudRate(), 110);
  const qint64 LineMs = qint64(qMax(Queued, 1)) * 10 * 1000 / Baud + 1;
  FDrainTimer->start(int(qMin(LineMs, DrainPollMaxMs)));
}

void TComPortBase::FinishDrain() {
  FDraining = false;
  FDrainTimer->stop();
  // Told from the event loop: those waiting for it may close or free the port.
  QMetaObject::invokeMethod(this, &TComPortBase::DrainEnded, Qt::QueuedConnection);
  if (!FDevice->isOpen())
    return;
  // Output is purged only when the bound ended the drain with bytes still
  // held; after a drain that completed there is none, and on a device that
  // does not count its queue (a pseudo-terminal) a purge would drop what the
  // far end has not read yet.
  BeginOp(opPurge);
  FDevice->clear(OutputQueued() ? QSerialPort::AllDirections : QSerialPort::Input);
  EndOp();
  BeginOp(opClose);
  FDevice->close();
  EndOp();
}

void TComPortBase::Clear() {
  Purge(std::exchange(FKeepOutput, false) ? QSerialPort::Input : QSerialPort::AllDirections);
}

void TComPortBase::ClearInput() { Purge(QSerialPort::Input); }

void TComPortBase::Purge(QSerialPort::Directions Directions) {
  if (!FConnected)
    return;
  if (FBroken) {
    FailBroken(CE_PurgeFailed);
    return;
  }
  BeginOp(opPurge);
  const bool Purged = FDevice->clear(Directions);
  const int64_t Code = Purged ? 0 : OpErrorCode(QSerialPort::ResourceError);
  EndOp();
  if (!Purged)
    IoFailed(CE_PurgeFailed, Code);
}

bool TComPortBase::BeginRead(int Len, bool StopAtLineEnd, TReadDone Done) {
  if (!FConnected) {
    Report(CEPortNotOpen, PortNotOpenCode, true);
    return false;
  }
  if (FBroken) {
    FailBroken(CE_ReadFailed);
    return false;
  }
  if (FRead.Active) {
    QPointer<TComPortBase> Self(this);
    FinishRead();
    if (!Self || !FConnected || FBroken)
      return false;
  }
  FRead.Active = true;
  FRead.Len = qMax(Len, 0);
  FRead.StopAtLineEnd = StopAtLineEnd;
  FRead.Got.clear();
  FRead.Total = QDeadlineTimer(BoundMs(Len), Qt::PreciseTimer);
  FRead.Gap = QDeadlineTimer(QDeadlineTimer::Forever);
  FRead.Done = std::move(Done);
  FReadTimer->start(Len <= 0 ? 0 : TimerMs(BoundMs(Len)));
  // Bytes that are already here are taken from the event loop, as Done may
  // not run inside this call. (Line errors are looked at as each read ends.)
  if (FDevice->bytesAvailable() > 0)
    ScheduleHandOver();
  return true;
}

bool TComPortBase::FeedRead() {
  if (FRead.Got.size() < FRead.Len && FDevice->isOpen()) {
    const qint64 Waiting = FDevice->bytesAvailable();
    if (Waiting > 0) {
      qint64 Take = qMin<qint64>(Waiting, FRead.Len - FRead.Got.size());
      bool LineDone = false;
      if (FRead.StopAtLineEnd) {
        const qsizetype Cr = FDevice->peek(Take).indexOf('\r');
        if (Cr >= 0) {
          Take = Cr + 1;
          LineDone = true;
        }
      }
      FRead.Got += FDevice->read(Take);
      FRead.Gap = QDeadlineTimer(ReadIntervalMs, Qt::PreciseTimer);
      if (LineDone) {
        if (FRead.Got.size() < FRead.Len) {
          // The LF of a CR LF belongs to the line when it is already there;
          // it is not waited for (a look at the device that does not wait).
          if (FDevice->bytesAvailable() == 0)
            FDevice->waitForReadyRead(0);
          char Next = 0;
          if (FDevice->peek(&Next, 1) == 1 && Next == '\n')
            FRead.Got += FDevice->read(1);
        }
        return true;
      }
    }
  }
  if (FRead.Got.size() >= FRead.Len || FRead.Total.hasExpired() ||
      (!FRead.Got.isEmpty() && FRead.Gap.hasExpired()))
    return true;
  qint64 Wait = FRead.Total.remainingTime();
  if (!FRead.Got.isEmpty())
    Wait = qMin(Wait, FRead.Gap.remainingTime());
  FReadTimer->start(TimerMs(Wait));
  return false;
}

void TComPortBase::ReadTimerFired() {
  if (!FRead.Active)
    return;
  // From the event loop: an error raised by Done is shown, not passed on.
  Guarded([this] {
    if (FeedRead())
      FinishRead();
  });
}

void TComPortBase::FinishRead() {
  if (!FRead.Active)
    return;
  FRead.Active = false;
  FReadTimer->stop();
  const QByteArray Bytes = std::exchange(FRead.Got, QByteArray());
  const TReadDone Done = std::exchange(FRead.Done, nullptr);
  // Line errors without a byte (a dropped character) are noticed too.
  if (FHasCounters && FConnected)
    ScheduleHandOver();
  if (Done)
    Done(Bytes);
}

void TComPortBase::WriteBytes(const QByteArray &Data) {
  if (!FConnected) {
    Report(CEPortNotOpen, PortNotOpenCode, true);
    return;
  }
  if (FBroken) {
    FailBroken(CE_WriteFailed);
    return;
  }
  if (Data.isEmpty())
    return;

  // Whether earlier writes are still on their way, before this one joins them.
  const bool Behind = !FWriteDeadline.hasExpired() && OutputQueued();
  BeginOp(opWrite);
  bool Failed = FDevice->write(Data) != Data.size();
  // The bytes go to the device now when it has room for them; otherwise
  // (its flow control holds it, its buffer is full) they follow on its
  // notifications. A write into a device without room would fail rather
  // than wait.
  if (!Failed && Writable()) {
    FOpError = QSerialPort::NoError;
    FDevice->flush();
    Failed = FOpError != QSerialPort::NoError && FOpError != QSerialPort::TimeoutError;
  }
  const int64_t Code = Failed ? OpErrorCode(QSerialPort::WriteError) : 0;
  EndOp();
  if (Failed) {
    IoFailed(CE_WriteFailed, Code);
    return;
  }
  // The bytes go out behind those still queued from earlier writes: their
  // bound counts from the end of the earlier writes' bound, so that a burst
  // of writes (a command list, then the home command) has the sum of its
  // bounds, not the last write's alone.
  const qint64 Ms = BoundMs(int(qMin<qsizetype>(Data.size(), INT_MAX / 20)));
  if (Behind)
    FWriteDeadline += Ms;
  else
    FWriteDeadline = QDeadlineTimer(Ms, Qt::PreciseTimer);
  if (FDevice->bytesToWrite() > 0)
    FWriteTimer->start(TimerMs(FWriteDeadline.remainingTime()));
}

bool TComPortBase::Writable() const {
  pollfd Poll{int(FDevice->handle()), POLLOUT, 0};
  return ::poll(&Poll, 1, 0) == 1 && (Poll.revents & POLLOUT) != 0;
}

void TComPortBase::WriteBoundPassed() {
  if (!FConnected || FBroken || !FDevice->isOpen() || FDevice->bytesToWrite() == 0)
    return;
  if (!FWriteDeadline.hasExpired()) {
    FWriteTimer->start(TimerMs(FWriteDeadline.remainingTime()));
    return;
  }
  // A write that ends at its bound sends nothing more: what is left would
  // otherwise reach the controller later, out of its exchange.
  BeginOp(opPurge);
  FDevice->clear(QSerialPort::Output);
  EndOp();
}

QByteArray TComPortBase::ReadWaiting(int Count) {
  if (!FDevice->isOpen() || Count <= 0)
    return {};
  return FDevice->read(Count);
}

void TComPortBase::Report(TComExceptions Kind, int64_t WinError, bool MayRaise) {
  // A failure met while an earlier one is being handled belongs to it.
  if (FReporting)
    return;
  const QString Message = ComExceptionMessage(Kind);
  if (OnException) {
    // The handler may close the port or delete it (with its owner): it runs
    // from a copy, and nothing of this object is touched once it is gone.
    const TComExceptionEvent Handler = OnException;
    QPointer<TComPortBase> Self(this);
    FReporting = true;
    const auto Done = qScopeGuard([&] {
      if (Self)
        FReporting = false;
    });
    Handler(this, Kind, Message, WinError, SystemMessage(WinError));
    return;
  }
  if (MayRaise)
    throw ESerialPortError(Kind, Message, WinError);
  // Reports handled from the event loop have no caller to raise to.
  qWarning("%s: %s", qPrintable(FPort), ESerialPortError(Kind, Message, WinError).what());
}

void TComPortBase::SetLineSettings(const TLineSettings &Settings) {
  FLine = Settings;
  if (!FConnected || FBroken)
    return;
  int64_t Code = 0;
  if (!ApplyLineSettings(Code))
    Report(CE_SetStateFailed, Code, true);
}

bool TComPortBase::ApplyLineSettings(int64_t &Code) {
  QSerialPort::FlowControl Flow = QSerialPort::NoFlowControl;
  if (FLine.RtsHandshake && FLine.CtsFlow)
    Flow = QSerialPort::HardwareControl;
  else if (FLine.XonXoffIn || FLine.XonXoffOut)
    Flow = QSerialPort::SoftwareControl;

  BeginOp(opSetup);
  bool Ok = true;
  auto Step = [&](auto &&Apply) {
    if (!Ok)
      return;
    FOpError = QSerialPort::NoError;
    if (!Apply()) {
      Ok = false;
      Code = OpErrorCode(QSerialPort::UnsupportedOperationError);
    }
  };
  Step([&] { return FDevice->setBaudRate(FLine.BaudRate); });
  Step([&] { return FDevice->setDataBits(FLine.DataBits); });
  Step([&] { return FDevice->setStopBits(FLine.StopBits); });
  Step([&] { return FDevice->setParity(FLine.Parity); });
  Step([&] { return FDevice->setFlowControl(Flow); });
  if (Ok) {
    // DTR is held off, and RTS too unless the receive handshake drives it. A
    // device without modem lines (a pseudo-terminal) refuses both; that is
    // not a failure.
    FDevice->setDataTerminalReady(false);
    if (Flow != QSerialPort::HardwareControl)
      FDevice->setRequestToSend(false);
  }
  FDevice->clearError();
  EndOp();
  return Ok;
}

void TComPortBase::BeginOp(TOperation Op) {
  FOp = Op;
  FOpError = QSerialPort::NoError;
  FOpErrno = 0;
}

void TComPortBase::EndOp() {
  FOp = opNone;
  FOpError = QSerialPort::NoError;
  FOpErrno = 0;
}

int64_t TComPortBase::OpErrorCode(QSerialPort::SerialPortError Fallback) const {
  const QSerialPort::SerialPortError Error =
      (FOpError == QSerialPort::NoError || FOpError == QSerialPort::TimeoutError) ? Fallback
                                                                                  : FOpError;
  return SystemCode(Error, FOpErrno);
}

void TComPortBase::IoFailed(TComExceptions Kind, int64_t Code) {
  GiveUpDevice(Code);
  Report(Kind, Code, true);
}

void TComPortBase::FailBroken(TComExceptions Kind) {
  // The operation meets the failure first: it is reported under this
  // operation's kind, and not again from the event loop.
  FFailurePending = false;
  GiveUpDevice(FBrokenCode);
  Report(Kind, FBrokenCode, true);
}

void TComPortBase::GiveUpDevice(int64_t Code) {
  FBroken = true;
  FBrokenCode = Code;
  FFailurePending = false;
  // A read that the failure cuts short gets nothing.
  FRead.Got.clear();
  FWriteTimer->stop();
  // A device that went away keeps signalling; closing it underneath stops
  // that. The port stays open for its user until Close.
  if (FDevice->isOpen()) {
    BeginOp(opClose);
    FDevice->close();
    EndOp();
  }
}

void TComPortBase::DeviceError(QSerialPort::SerialPortError Error) {
  const int Errno = errno;
  if (Error == QSerialPort::NoError || Error == QSerialPort::TimeoutError)
    return;
  if (FOp != opNone) {
    // The operation that runs reports it.
    if (FOpError == QSerialPort::NoError || FOpError == QSerialPort::TimeoutError) {
      FOpError = Error;
      FOpErrno = Errno;
    }
    return;
  }
  if (Error != QSerialPort::ReadError && Error != QSerialPort::WriteError &&
      Error != QSerialPort::ResourceError)
    return;
  if (FDraining && !FConnected) {
    // A device that fails while it drains after the close is given up
    // quietly, outside its own signal.
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (FDraining)
            FinishDrain();
        },
        Qt::QueuedConnection);
    return;
  }
  if (!FConnected || FBroken)
    return;
  // A read notification that finds nothing to read (another handler of the
  // same pass of the event loop purged the input) and a write the device
  // can't take yet are reported as errors: a read or write that would block
  // is no failure while the device is still there. Qt stops the read
  // notifications on a resource error, so they are started again.
  const bool WouldBlock = Errno == EAGAIN || Errno == EWOULDBLOCK || Errno == EINTR;
  if ((Error == QSerialPort::ReadError || WouldBlock) && DeviceStillThere()) {
    FDevice->clearError();
    if (Error == QSerialPort::ResourceError)
      QMetaObject::invokeMethod(this, &TComPortBase::ResumeReading, Qt::QueuedConnection);
    return;
  }
  // Seen while no operation runs (the device hung up): reported once from
  // the event loop, outside the device's own signal.
  FBroken = true;
  FBrokenCode = SystemCode(Error, Errno);
  FPendingKind = Error == QSerialPort::WriteError ? CE_WriteFailed : CE_ReadFailed;
  FFailurePending = true;
  QMetaObject::invokeMethod(this, &TComPortBase::ReportIdleFailure, Qt::QueuedConnection);
}

bool TComPortBase::DeviceStillThere() const {
  // The handle decides, not errno: a hang-up shows as a read of 0 bytes,
  // which leaves errno as an earlier call set it.
  const int Handle = int(FDevice->handle());
  if (Handle < 0)
    return false;
  pollfd Poll{Handle, POLLIN, 0};
  if (::poll(&Poll, 1, 0) < 0)
    return false;
  return (Poll.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

void TComPortBase::ResumeReading() {
  // Setting the read buffer's size starts the device's read notifications
  // again (the size stays as it was).
  if (FConnected && !FBroken && FDevice->isOpen())
    FDevice->setReadBufferSize(FDevice->readBufferSize());
}

void TComPortBase::ReportIdleFailure() {
  if (!FFailurePending || !FConnected)
    return;
  const TComExceptions Kind = FPendingKind;
  const int64_t Code = FBrokenCode;
  GiveUpDevice(Code);
  QPointer<TComPortBase> Self(this);
  // From the event loop: an error raised by the handler is shown, not passed on.
  Guarded([&] { Report(Kind, Code, false); });
  // A read that the failure cut short ends with nothing, unless the handler
  // has closed the port and so ended it already.
  if (Self && FRead.Active)
    Guarded([this] { FinishRead(); });
}

void TComPortBase::DeviceReadyRead() { ScheduleHandOver(); }

void TComPortBase::ScheduleHandOver() {
  if (FInHandOver) {
    // A handler runs (maybe a modal box): the next report waits for it.
    FHandOverAgain = true;
    return;
  }
  if (FHandOverPending)
    return;
  FHandOverPending = true;
  QMetaObject::invokeMethod(this, &TComPortBase::HandOver, Qt::QueuedConnection);
}

void TComPortBase::HandOver() {
  FHandOverPending = false;
  if (!FConnected || FBroken)
    return;
  // The handlers may close or delete the port; an error they raise is shown
  // in the error dialog, as no exception may leave into the event loop.
  QPointer<TComPortBase> Self(this);
  bool ReadEnded = false;
  FInHandOver = true;
  Guarded([&] {
    const TComErrors Errors = TakeLineErrors();
    if (Errors != 0 && OnError) {
      const TComErrorEvent Handler = OnError;
      Handler(this, Errors);
      if (!Self || !FConnected || FBroken)
        return;
    }
    // Bytes go to the read that waits for them; bytes no read waits for go
    // to RxChar.
    if (FRead.Active)
      ReadEnded = FeedRead();
    else if (const qint64 Waiting = FDevice->bytesAvailable(); Waiting > 0)
      RxChar(int(qMin<qint64>(Waiting, INT_MAX)));
  });
  if (!Self)
    return;
  FInHandOver = false;
  if (ReadEnded) {
    // Outside the hand-over: Done may run a nested event loop (a command list
    // that waits), in which further notifications must reach the reads it
    // starts.
    Guarded([this] { FinishRead(); });
    if (!Self)
      return;
    // What is left waits for the next pass of the event loop: for a read
    // that Done or its caller starts, or else to be handed to RxChar.
    if (FConnected && !FBroken && FDevice->isOpen() && FDevice->bytesAvailable() > 0)
      FHandOverAgain = true;
  }
  if (FHandOverAgain) {
    FHandOverAgain = false;
    if (FConnected)
      ScheduleHandOver();
  }
}

TComErrors TComPortBase::TakeLineErrors() {
  if (!FHasCounters || !FDevice->isOpen())
    return 0;
  serial_icounter_struct Counters{};
  if (::ioctl(FDevice->handle(), TIOCGICOUNT, &Counters) != 0) {
    FHasCounters = false;
    return 0;
  }
  // Parity checking is off, so parity errors are not among them.
  TComErrors Errors = 0;
  if (Counters.frame != FFrameCount)
    Errors |= ceFrame;
  if (Counters.overrun != FOverrunCount)
    Errors |= ceOverrun;
  if (Counters.brk != FBreakCount)
    Errors |= ceBreak;
  if (Counters.buf_overrun != FBufOverrunCount)
    Errors |= ceRxOver;
  FFrameCount = Counters.frame;
  FOverrunCount = Counters.overrun;
  FBreakCount = Counters.brk;
  FBufOverrunCount = Counters.buf_overrun;
  return Errors;
}

// ---------------------------------------------------------------------------
// TCPortX

TCPortX::TCPortX(QObject *Owner) : TComPortBase(Owner) {}

TCPortX::~TCPortX() = default;

bool TCPortX::BeginRecv(int Len, bool Line, TRecvDone Done) {
  return BeginRead(Len, Line, [Done = std::move(Done)](const QByteArray &Bytes) {
    if (Done)
      Done(QString::fromLatin1(Bytes));
  });
}

void TCPortX::SendStr(const QString &Str) {
  QByteArray Bytes(Str.size(), Qt::Uninitialized);
  for (qsizetype I = 0; I < Str.size(); ++I)
    Bytes[I] = char(Str[I].unicode() & 0xFF);
  WriteBytes(Bytes);
}

QString TCPortX::BaudRate() const { return QLatin1String(BaudTexts[FBaudIndex]); }

void TCPortX::SetBaudRate(const QString &Value) {
  FBaudIndex = FindText(BaudTexts, Value, BaudDefault);
  TLineSettings Line = LineSettings();
  Line.BaudRate = BaudValues[FBaudIndex];
  SetLineSettings(Line);
}

QString TCPortX::DataBits() const { return QLatin1String(DataBitsTexts[FDataBitsIndex]); }

void TCPortX::SetDataBits(const QString &Value) {
  FDataBitsIndex = FindText(DataBitsTexts, Value, DataBitsDefault);
  TLineSettings Line = LineSettings();
  Line.DataBits = DataBitsValues[FDataBitsIndex];
  SetLineSettings(Line);
}

QString TCPortX::StopBits() const { return QLatin1String(StopBitsTexts[FStopBitsIndex]); }

void TCPortX::SetStopBits(const QString &Value) {
  FStopBitsIndex = FindText(StopBitsTexts, Value, StopBitsDefault);
  TLineSettings Line = LineSettings();
  Line.StopBits = StopBitsValues[FStopBitsIndex];
  SetLineSettings(Line);
}

QString TCPortX::Parity() const { return QLatin1String(ParityTexts[FParityIndex]); }

void TCPortX::SetParity(const QString &Value) {
  FParityIndex = FindText(ParityTexts, Value, ParityDefault);
  TLineSettings Line = LineSettings();
  Line.Parity = ParityValues[FParityIndex];
  SetLineSettings(Line);
}

QString TCPortX::FlowControl() const {
  const TLineSettings &Line = LineSettings();
  if (Line.RtsHandshake && Line.CtsFlow && !Line.XonXoffIn && !Line.XonXoffOut)
    return QLatin1String(FlowTexts[fcHardware]);
  if (!Line.RtsHandshake && !Line.CtsFlow && Line.XonXoffIn && Line.XonXoffOut)
    return QLatin1String(FlowTexts[fcSoftware]);
  if (Line.RtsHandshake || Line.CtsFlow || Line.XonXoffIn || Line.XonXoffOut)
    return QLatin1String(FlowTexts[fcCustom]);
  return QLatin1String(FlowTexts[fcNone]);
}

void TCPortX::SetFlowControl(const QString &Value) {
  TLineSettings Line = LineSettings();
  switch (FindText(FlowTexts, Value, fcCustom)) {
  case fcHardware:
    Line.RtsHandshake = Line.CtsFlow = true;
    Line.XonXoffIn = Line.XonXoffOut = false;
    break;
  case fcSoftware:
    Line.RtsHandshake = Line.CtsFlow = false;
    Line.XonXoffIn = Line.XonXoffOut = true;
    break;
  case fcNone:
    Line.RtsHandshake = Line.CtsFlow = false;
    Line.XonXoffIn = Line.XonXoffOut = false;
    break;
  default:
    // "Custom" (and an unknown text) leaves the flow control as it is.
    return;
  }
  SetLineSettings(Line);
}

QString TCPortX::Delimiter() const { return FDelimiter; }

void TCPortX::SetDelimiter(const QString &Value) {
  FDelimiter = Value;
  FTriggersOnRxChar = !Value.isEmpty();
}

bool TCPortX::TriggersOnRxChar() const { return FTriggersOnRxChar; }

void TCPortX::SetTriggersOnRxChar(bool Value) { FTriggersOnRxChar = Value; }

bool TCPortX::Active() const { return FActive; }

void TCPortX::SetActive(bool Value) { FActive = Value; }

QString TCPortX::RecvMsg() const { return FRecvMsg; }

void TCPortX::RxChar(int Count) {
  const QByteArray Bytes = ReadWaiting(Count);
  if (!FTriggersOnRxChar)
    return; // read and thrown away
  FRecvMsg = QString::fromLatin1(Bytes);
  if (OnRecvMsg) {
    // The handler may delete this port: it gets copies.
    const TRecvMsgEvent Handler = OnRecvMsg;
    const QString Text = FRecvMsg;
    Handler(this, Text);
  }
}

void TCPortX::AfterClose() { FActive = false; }
