#include "serial/CPortX.h"

#include "base/UiServices.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QThread>
#include <QtGlobal>

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <array>
#include <cerrno>
#include <climits>
#include <system_error>

namespace {

// System code of "port not open"; negative, so a raised message has no suffix.
constexpr int64_t PortNotOpenCode = -24;
// A read ends this long after a byte without a further one.
constexpr qint64 ReadIntervalMs = 100;
// Total bounds of a read or write of n bytes: n x multiplier + constant.
constexpr qint64 TotalMultiplierMs = 10;
constexpr qint64 TotalConstantMs = 100;

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

TComPortBase::TComPortBase(QObject *Owner) : QObject(Owner), FDevice(new QSerialPort(this)) {
  connect(FDevice, &QSerialPort::errorOccurred, this, &TComPortBase::DeviceError);
  connect(FDevice, &QSerialPort::readyRead, this, &TComPortBase::DeviceReadyRead);
}

TComPortBase::~TComPortBase() {
  // Nothing may be raised or reported from here.
  CloseDevice(false);
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
  FConnected = true;
  FBroken = false;
  FFailurePending = false;

  // Buffer sizes and timeouts need no call here: the kernel keeps its own
  // buffers, and the read and write bounds are kept by ReadBytes/WriteBytes.
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
  FFailurePending = false;
  bool PurgeFailed = false;
  int64_t Code = 0;
  if (FDevice->isOpen()) {
    if (!FBroken) {
      BeginOp(opPurge);
      PurgeFailed = !FDevice->clear(QSerialPort::AllDirections);
      if (PurgeFailed)
        Code = OpErrorCode(QSerialPort::ResourceError);
      EndOp();
    }
    BeginOp(opClose);
    FDevice->close();
    EndOp();
  }
  FBroken = false;
  FBrokenCode = 0;
  FHasCounters = false;
  AfterClose();
  if (PurgeFailed && MayReport)
    Report(CE_PurgeFailed, Code, true);
}

void TComPortBase::Clear() { Purge(QSerialPort::AllDirections); }

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

QByteArray TComPortBase::ReadBytes(int Len, bool StopAtLineEnd) {
  if (!FConnected) {
    Report(CEPortNotOpen, PortNotOpenCode, true);
    return {};
  }
  if (FBroken) {
    FailBroken(CE_ReadFailed);
    return {};
  }
  if (Len <= 0)
    return {};

  const QDeadlineTimer Total(TotalMultiplierMs * Len + TotalConstantMs);
  QDeadlineTimer Interval(QDeadlineTimer::Forever);
  QByteArray Result;
  bool LineDone = false;
  bool Failed = false;
  BeginOp(opRead);
  for (;;) {
    const qint64 Waiting = FDevice->bytesAvailable();
    if (Waiting > 0) {
      qint64 Take = qMin<qint64>(Waiting, Len - Result.size());
      if (StopAtLineEnd) {
        const qsizetype Cr = FDevice->peek(Take).indexOf('\r');
        if (Cr >= 0) {
          Take = Cr + 1;
          LineDone = true;
        }
      }
      Result += FDevice->read(Take);
      Interval.setRemainingTime(ReadIntervalMs);
      if (LineDone && Result.size() < Len) {
        // The LF of a CR LF belongs to the line when it is already there;
        // it is not waited for.
        if (FDevice->bytesAvailable() == 0)
          FDevice->waitForReadyRead(0);
        char Next = 0;
        if (FDevice->peek(&Next, 1) == 1 && Next == '\n')
          Result += FDevice->read(1);
      }
    }
    if (Result.size() >= Len || LineDone)
      break;
    qint64 Wait = Total.remainingTime();
    if (!Result.isEmpty())
      Wait = qMin(Wait, Interval.remainingTime());
    if (Wait <= 0)
      break;
    FOpError = QSerialPort::NoError;
    if (!FDevice->waitForReadyRead(int(qMin<qint64>(Wait, INT_MAX)))) {
      if (FOpError == QSerialPort::NoError || FOpError == QSerialPort::TimeoutError) {
        FDevice->clearError();
        continue;
      }
      Failed = true;
      break;
    }
  }
  const int64_t Code = Failed ? OpErrorCode(QSerialPort::ReadError) : 0;
  EndOp();
  if (Failed) {
    IoFailed(CE_ReadFailed, Code);
    return {};
  }
  // Line errors without a byte (a dropped character) are noticed here too.
  if (FHasCounters)
    ScheduleHandOver();
  return Result;
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

  const QDeadlineTimer Deadline(TotalMultiplierMs * Data.size() + TotalConstantMs);
  BeginOp(opWrite);
  bool Failed = FDevice->write(Data) != Data.size();
  while (!Failed && FDevice->bytesToWrite() > 0) {
    const qint64 Wait = Deadline.remainingTime();
    if (Wait <= 0)
      break;
    FOpError = QSerialPort::NoError;
    if (!FDevice->waitForBytesWritten(int(qMin<qint64>(Wait, INT_MAX)))) {
      if (FOpError == QSerialPort::NoError || FOpError == QSerialPort::TimeoutError) {
        FDevice->clearError();
        continue;
      }
      Failed = true;
    }
  }
  // The write has finished when the bytes have left the device's transmit
  // queue, not when the kernel has taken them: a purge right after (the
  // driver's close sends CR and then purges) must not throw away a command
  // still on its way to the controller.
  if (!Failed && FDevice->bytesToWrite() == 0)
    WaitTransmitted(Deadline);
  // A write that ends at its timeout sends nothing more: what is left would
  // otherwise reach the controller later, out of its exchange.
  if (!Failed && FDevice->bytesToWrite() > 0)
    FDevice->clear(QSerialPort::Output);
  const int64_t Code = Failed ? OpErrorCode(QSerialPort::WriteError) : 0;
  EndOp();
  if (Failed)
    IoFailed(CE_WriteFailed, Code);
}

void TComPortBase::WaitTransmitted(const QDeadlineTimer &Deadline) {
  const int Handle = int(FDevice->handle());
  const qint32 Baud = qMax<qint32>(FDevice->baudRate(), 110);
  for (;;) {
    int Queued = 0;
    // Devices that do not count their queue (a pseudo-terminal says 0) are
    // taken as transmitted.
    if (Handle < 0 || ::ioctl(Handle, TIOCOUTQ, &Queued) != 0 || Queued <= 0)
      return;
    const qint64 Left = Deadline.remainingTime();
    if (Left <= 0)
      return;
    // Sleep for about the line time of what is queued (10 bits a byte).
    const qint64 LineMs = qint64(Queued) * 10 * 1000 / Baud + 1;
    QThread::msleep(static_cast<unsigned long>(qMin(LineMs, Left)));
  }
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
  if (!FConnected || FBroken)
    return;
  if (Error != QSerialPort::ReadError && Error != QSerialPort::WriteError &&
      Error != QSerialPort::ResourceError)
    return;
  // A read notification that arrives after a blocking read has already taken
  // the bytes finds nothing to read and is reported as a read error; a device
  // that is still there is no failure.
  if (Error == QSerialPort::ReadError && DeviceStillThere(Errno)) {
    FDevice->clearError();
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

bool TComPortBase::DeviceStillThere(int Errno) const {
  if (Errno == EAGAIN || Errno == EWOULDBLOCK || Errno == EINTR)
    return true;
  const int Handle = int(FDevice->handle());
  if (Handle < 0)
    return false;
  pollfd Poll{Handle, POLLIN, 0};
  if (::poll(&Poll, 1, 0) < 0)
    return false;
  return (Poll.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

void TComPortBase::ReportIdleFailure() {
  if (!FFailurePending || !FConnected)
    return;
  const TComExceptions Kind = FPendingKind;
  const int64_t Code = FBrokenCode;
  GiveUpDevice(Code);
  // From the event loop: an error raised by the handler is shown, not passed on.
  Guarded([&] { Report(Kind, Code, false); });
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
  FInHandOver = true;
  Guarded([&] {
    const TComErrors Errors = TakeLineErrors();
    if (Errors != 0 && OnError) {
      const TComErrorEvent Handler = OnError;
      Handler(this, Errors);
      if (!Self)
        return;
    }
    if (FConnected && !FBroken) {
      const qint64 Waiting = FDevice->bytesAvailable();
      if (Waiting > 0)
        RxChar(int(qMin<qint64>(Waiting, INT_MAX)));
    }
  });
  if (!Self)
    return;
  FInHandOver = false;
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

QString TCPortX::RecvStr(int Len) { return QString::fromLatin1(ReadBytes(Len)); }

QString TCPortX::RecvLine(int Len) { return QString::fromLatin1(ReadBytes(Len, true)); }

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
