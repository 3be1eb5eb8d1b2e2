#include "app/MainRotctld.h"

#include "app/Main.h"
#include "base/UiServices.h"

#include <QChildEvent>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>

namespace {

const QString EnableSwitch = QStringLiteral("--rotctld");
const QString AddressSwitch = QStringLiteral("--rotctld-address");
const QString OffValue = QStringLiteral("off");

bool LooksLikePort(const QString &Text) {
  static const QRegularExpression Digits(QStringLiteral("^\\d+$"));
  return Digits.match(Text).hasMatch();
}

// Reads the value of --rotctld: a port from 0 to 65535 or "off".
void TakeEnableValue(const QString &Value, TRotctldArguments &Result) {
  if (Value.compare(OffValue, Qt::CaseInsensitive) == 0) {
    Result.Enable = false;
    return;
  }
  bool Ok = false;
  const int Port = Value.toInt(&Ok);
  if (!LooksLikePort(Value) || !Ok || Port > 65535) {
    Result.Errors << QStringLiteral("%1: \"%2\" is neither a port number (0 to 65535) nor "
                                    "\"off\".")
                         .arg(EnableSwitch, Value);
    return;
  }
  Result.Enable = true;
  Result.Port = Port;
}

} // namespace

TRotctldArguments TakeRotctldArguments(QStringList &Arguments) {
  TRotctldArguments Result;
  QStringList Rest;
  for (qsizetype I = 0; I < Arguments.size(); ++I) {
    const QString &Argument = Arguments[I];
    if (I == 0) {
      Rest << Argument;
    } else if (Argument == EnableSwitch) {
      // The port is optional: only a number or "off" right after the switch
      // belongs to it.
      if (I + 1 < Arguments.size() &&
          (LooksLikePort(Arguments[I + 1]) ||
           Arguments[I + 1].compare(OffValue, Qt::CaseInsensitive) == 0))
        TakeEnableValue(Arguments[++I], Result);
      else
        Result.Enable = true;
    } else if (Argument.startsWith(EnableSwitch + u'=')) {
      TakeEnableValue(Argument.mid(EnableSwitch.size() + 1), Result);
    } else if (Argument == AddressSwitch) {
      if (I + 1 < Arguments.size())
        Result.Address = Arguments[++I];
      else
        Result.Errors << QStringLiteral("%1 needs an address.").arg(AddressSwitch);
    } else if (Argument.startsWith(AddressSwitch + u'=')) {
      Result.Address = Argument.mid(AddressSwitch.size() + 1);
    } else {
      Rest << Argument;
    }
  }
  Arguments = Rest;
  return Result;
}

TNetworkSettings ApplyRotctldArguments(TNetworkSettings Settings,
                                       const TRotctldArguments &Arguments) {
  if (Arguments.Enable)
    Settings.RotctldEnable = *Arguments.Enable;
  if (Arguments.Port)
    Settings.RotctldPort = *Arguments.Port;
  if (Arguments.Address)
    Settings.RotctldAddress = Arguments.Address->trimmed();
  return Settings;
}

QHostAddress RotctldAddress(const QString &Text) {
  const QString Trimmed = Text.trimmed();
  if (Trimmed.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
    return QHostAddress(QHostAddress::LocalHost);
  return QHostAddress(Trimmed);
}

TMainRotctld::TMainRotctld(TMain &Window, const TRotctldArguments &Arguments)
    : FWindow(Window), FWorkspace(Window) {
  if (!Arguments.Errors.isEmpty())
    Ui().ShowMessage(Arguments.Errors.join(u'\n'));

  // A document that can't be read is neither trusted nor overwritten: the
  // switches alone decide, with the defaults for the rest.
  const bool Loaded = Guarded([&] { FSettings = LoadNetworkSettings(Window.XmlName); });
  const TNetworkSettings Wanted = ApplyRotctldArguments(FSettings, Arguments);
  if (Loaded && Wanted != FSettings)
    Guarded([&] { SaveNetworkSettings(Window.XmlName, Wanted); });
  FSettings = Wanted;

  if (FSettings.RotctldEnable)
    Start();
}

TMainRotctld::~TMainRotctld() {
  if (FPages)
    FPages->removeEventFilter(this);
  FServers.reset();
}

void TMainRotctld::Start() {
  const QHostAddress Address = RotctldAddress(FSettings.RotctldAddress);
  if (Address.isNull()) {
    Ui().ShowMessage(QStringLiteral("The rotctld servers are not started: \"%1\" is not an "
                                    "IP address.")
                         .arg(FSettings.RotctldAddress));
    return;
  }
  TRotctldServers::TOptions Options;
  Options.Address = Address;
  Options.BasePort = FSettings.RotctldPort;
  FServers = std::make_unique<TRotctldServers>(FWorkspace, Options);

  // Inserting or deleting a rotator adds or removes its tab page, and moving
  // one moves its tab; the servers catch up once the window has finished.
  FPages = FWindow.PageControl1->findChild<QStackedWidget *>(QString(),
                                                            Qt::FindDirectChildrenOnly);
  if (FPages)
    FPages->installEventFilter(this);
  connect(FWindow.PageControl1->tabBar(), &QTabBar::tabMoved, this,
          [this] { FServers->ScheduleSync(); });
  // A window that goes first takes its rotators with it.
  connect(&FWindow, &QObject::destroyed, this, [this] { FServers->Stop(); });

  Guarded([this] { FServers->Sync(); });
}

bool TMainRotctld::eventFilter(QObject *Watched, QEvent *Event) {
  if (Watched == FPages && FServers &&
      (Event->type() == QEvent::ChildAdded || Event->type() == QEvent::ChildRemoved))
    FServers->ScheduleSync();
  return QObject::eventFilter(Watched, Event);
}
