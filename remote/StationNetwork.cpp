#include "remote/StationNetwork.h"

#include "base/UiServices.h"
#include "station/Station.h"

#include <QRegularExpression>

namespace {

const QString EnableSwitch = QStringLiteral("--rotctld");
const QString AddressSwitch = QStringLiteral("--rotctld-address");
const QString OffValue = QStringLiteral("off");
const QStringList LoggerSwitches = {QStringLiteral("--pst"), QStringLiteral("--n1mm"),
                                    QStringLiteral("--n1mm-status"), QStringLiteral("--rigctld"),
                                    QStringLiteral("--web"), QStringLiteral("--web-address")};

bool LooksLikePort(const QString &Text) {
  static const QRegularExpression Digits(QStringLiteral("^\\d+$"));
  return Digits.match(Text).hasMatch();
}

// A port number 0 to 65535.
std::optional<int> PortValue(const QString &Text) {
  bool Ok = false;
  const int Port = Text.toInt(&Ok);
  if (!LooksLikePort(Text) || !Ok || Port > 65535)
    return std::nullopt;
  return Port;
}

// Reads the value of --rotctld: a port from 0 to 65535 or "off".
void TakeEnableValue(const QString &Value, TNetworkArguments &Result) {
  if (Value.compare(OffValue, Qt::CaseInsensitive) == 0) {
    Result.Enable = false;
    return;
  }
  const std::optional<int> Port = PortValue(Value);
  if (!Port) {
    Result.Errors << QStringLiteral("%1: \"%2\" is neither a port number (0 to 65535) nor "
                                    "\"off\".")
                         .arg(EnableSwitch, Value);
    return;
  }
  Result.Enable = true;
  Result.Port = Port;
}

// The value of one of the loggers' switches.
void TakeLoggerValue(const QString &Switch, const QString &Value, TNetworkArguments &Result) {
  const bool Off = Value.compare(OffValue, Qt::CaseInsensitive) == 0;
  const auto Refuse = [&](const QString &Wanted) {
    Result.Errors << QStringLiteral("%1: \"%2\" is not %3.").arg(Switch, Value, Wanted);
  };
  if (Switch == QLatin1String("--pst") || Switch == QLatin1String("--n1mm")) {
    const bool Pst = Switch == QLatin1String("--pst");
    std::optional<bool> &Enable = Pst ? Result.PstEnable : Result.N1mmEnable;
    std::optional<int> &Port = Pst ? Result.PstPort : Result.N1mmPort;
    if (Off)
      Enable = false;
    else if (const auto Number = PortValue(Value))
      Enable = true, Port = Number;
    else
      Refuse(QStringLiteral("a port number (0 to 65535) or \"off\""));
  } else if (Switch == QLatin1String("--n1mm-status")) {
    if (const auto Number = PortValue(Value))
      Result.N1mmStatusPort = Number;
    else
      Refuse(QStringLiteral("a port number (0 to 65535)"));
  } else if (Switch == QLatin1String("--web")) {
    if (Off)
      Result.WebEnable = false;
    else if (const auto Number = PortValue(Value))
      Result.WebEnable = true, Result.WebPort = Number;
    else
      Refuse(QStringLiteral("a port number (0 to 65535) or \"off\""));
  } else if (Switch == QLatin1String("--web-address")) {
    Result.WebAddress = Value.trimmed();
  } else if (Switch == QLatin1String("--rigctld")) {
    const qsizetype Colon = Value.lastIndexOf(u':');
    const auto Number = Colon > 0 ? PortValue(Value.mid(Colon + 1)) : std::nullopt;
    if (Off)
      Result.RigctldEnable = false;
    else if (Number)
      Result.RigctldEnable = true, Result.RigctldHost = Value.left(Colon),
      Result.RigctldPort = Number;
    else
      Refuse(QStringLiteral("HOST:PORT or \"off\""));
  }
}

} // namespace

TNetworkArguments TakeNetworkArguments(QStringList &Arguments) {
  TNetworkArguments Result;
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
    } else if (const QString Switch = Argument.section(u'=', 0, 0);
               LoggerSwitches.contains(Switch)) {
      if (Argument.contains(u'='))
        TakeLoggerValue(Switch, Argument.section(u'=', 1), Result);
      else if (I + 1 < Arguments.size())
        TakeLoggerValue(Switch, Arguments[++I], Result);
      else
        Result.Errors << QStringLiteral("%1 needs a value.").arg(Switch);
    } else {
      Rest << Argument;
    }
  }
  Arguments = Rest;
  return Result;
}

TNetworkSettings ApplyNetworkArguments(TNetworkSettings Settings,
                                       const TNetworkArguments &Arguments) {
  if (Arguments.Enable)
    Settings.RotctldEnable = *Arguments.Enable;
  if (Arguments.Port)
    Settings.RotctldPort = *Arguments.Port;
  if (Arguments.Address)
    Settings.RotctldAddress = Arguments.Address->trimmed();
  const auto Take = [](auto &Into, const auto &From) {
    if (From)
      Into = *From;
  };
  Take(Settings.PstEnable, Arguments.PstEnable);
  Take(Settings.PstPort, Arguments.PstPort);
  Take(Settings.N1mmEnable, Arguments.N1mmEnable);
  Take(Settings.N1mmPort, Arguments.N1mmPort);
  Take(Settings.N1mmStatusPort, Arguments.N1mmStatusPort);
  Take(Settings.RigctldEnable, Arguments.RigctldEnable);
  Take(Settings.RigctldHost, Arguments.RigctldHost);
  Take(Settings.RigctldPort, Arguments.RigctldPort);
  Take(Settings.WebEnable, Arguments.WebEnable);
  Take(Settings.WebPort, Arguments.WebPort);
  Take(Settings.WebAddress, Arguments.WebAddress);
  return Settings;
}

QHostAddress RotctldAddress(const QString &Text) {
  const QString Trimmed = Text.trimmed();
  if (Trimmed.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
    return QHostAddress(QHostAddress::LocalHost);
  return QHostAddress(Trimmed);
}

TStationNetwork::TStationNetwork(TStation &Station, TNetworkArguments Arguments)
    : FStation(Station), FArguments(std::move(Arguments)) {
  FRestartTimer.setSingleShot(true);
  FRestartTimer.setInterval(100);
  connect(&FRestartTimer, &QTimer::timeout, this, &TStationNetwork::Restart);
  // The rotctld servers catch up with an inserted, deleted or moved rotator
  // once the change has finished.
  auto Schedule = [this] {
    if (FServers)
      FServers->ScheduleSync();
  };
  connect(&FStation, &TStation::RotatorAdded, this, Schedule);
  connect(&FStation, &TStation::RotatorRemoved, this, Schedule);
  connect(&FStation, &TStation::RotatorMoved, this, Schedule);
  // A station that goes first takes its rotators with it.
  connect(&FStation, &QObject::destroyed, this, [this] {
    if (FServers)
      FServers->Stop();
  });
}

void TStationNetwork::Apply(const TNetworkSettings &Settings) {
  if (Settings != FSettings)
    SaveNetworkSettings(FStation.SettingsFile(), Settings);
  FSettings = Settings;
  Restart();
}

void TStationNetwork::Restart() {
  // A server or link that is carrying out a request may be waiting in a
  // nested event loop below this call: it is freed only once it is done.
  if ((FServers && FServers->Busy()) || (FPst && FPst->Busy()) || (FN1mm && FN1mm->Busy()) ||
      (FRigctld && FRigctld->Busy()) || (FWeb && FWeb->Busy())) {
    if (!FRestartTimer.isActive())
      FRestartTimer.start();
    return;
  }
  FWeb.reset();
  FRigctld.reset();
  FN1mm.reset();
  FPst.reset();
  FServers.reset();
  if (FSettings.RotctldEnable)
    StartServers();
  StartLoggers();
  StartWeb();
}

TStationNetwork::~TStationNetwork() {
  FWeb.reset();
  FRigctld.reset();
  FN1mm.reset();
  FPst.reset();
  FServers.reset();
}

void TStationNetwork::Start() {
  if (!FArguments.Errors.isEmpty())
    emit Message(FArguments.Errors.join(u'\n'));

  // A document that can't be read is neither trusted nor overwritten: the
  // switches alone decide, with the defaults for the rest. Its error goes to
  // the exception dialog, as any step's.
  TLoadProblems Problems;
  const bool Loaded =
      Guarded([&] { FSettings = LoadNetworkSettings(FStation.SettingsFile(), Problems); });
  if (!Problems.isEmpty())
    emit Message(LoadProblemsMessage(Problems));
  const TNetworkSettings Wanted = ApplyNetworkArguments(FSettings, FArguments);
  if (Loaded && Wanted != FSettings)
    Guarded([&] { SaveNetworkSettings(FStation.SettingsFile(), Wanted); });
  FSettings = Wanted;

  if (FSettings.RotctldEnable)
    StartServers();
  StartLoggers();
  StartWeb();
}

void TStationNetwork::StartWeb() {
  if (!FSettings.WebEnable)
    return;
  const QHostAddress Address = RotctldAddress(FSettings.WebAddress);
  QString Error;
  if (Address.isNull()) {
    Error = QStringLiteral("\"%1\" is not an IP address").arg(FSettings.WebAddress);
  } else {
    TWebServer::TOptions Options;
    Options.Address = Address;
    Options.Port = static_cast<quint16>(FSettings.WebPort);
    Options.PasswordHash = FSettings.WebPassword;
    Options.CertificateFile = FSettings.WebCertificate;
    Options.KeyFile = FSettings.WebKey;
    FWeb = std::make_unique<TWebServer>(FStation, Options);
    if (FWeb->Start(&Error))
      return;
    FWeb.reset();
  }
  emit Message(QStringLiteral("The web page is not served: %1").arg(Error));
}

void TStationNetwork::StartLoggers() {
  const QHostAddress Address = RotctldAddress(FSettings.UdpAddress);
  const auto Listen = [&](TUdpRotorServer &Server, int Port, const QString &Name) {
    QString Error = Address.isNull()
                        ? QStringLiteral("\"%1\" is not an IP address").arg(FSettings.UdpAddress)
                        : QString();
    if (Error.isEmpty() && Server.Start(Address, static_cast<quint16>(Port), &Error))
      return true;
    emit Message(QStringLiteral("The %1 listener is not started: %2").arg(Name, Error));
    return false;
  };
  if (FSettings.PstEnable) {
    FPst = std::make_unique<TPstServer>(FStation, FSettings.PstRotator);
    if (!Listen(*FPst, FSettings.PstPort, QStringLiteral("PstRotator")))
      FPst.reset();
  }
  if (FSettings.N1mmEnable) {
    FN1mm =
        std::make_unique<TN1mmListener>(FStation, static_cast<quint16>(FSettings.N1mmStatusPort));
    if (!Listen(*FN1mm, FSettings.N1mmPort, QStringLiteral("N1MM")))
      FN1mm.reset();
  }
  if (FSettings.RigctldEnable) {
    FRigctld = std::make_unique<TRigctldFollower>(FStation, FSettings.RigctldHost,
                                                  static_cast<quint16>(FSettings.RigctldPort));
    connect(FRigctld.get(), &TRigctldFollower::StateChanged, this, [this](const QString &State) {
      emit Notice(State, State.endsWith(QLatin1String("MHz")));
    });
    FRigctld->Start();
  }
  for (TUdpRotorServer *Server :
       {static_cast<TUdpRotorServer *>(FPst.get()), static_cast<TUdpRotorServer *>(FN1mm.get())})
    if (Server)
      connect(Server, &TUdpRotorServer::IgnoredChanged, this, [this, Server](int Count) {
        emit Notice(QStringLiteral("UDP port %1: datagram ignored (%2 so far): %3")
                        .arg(Server->Port())
                        .arg(Count)
                        .arg(Server->LastIgnored()),
                    false);
      });
}

void TStationNetwork::StartServers() {
  const QHostAddress Address = RotctldAddress(FSettings.RotctldAddress);
  if (Address.isNull()) {
    emit Message(QStringLiteral("The rotctld servers are not started: \"%1\" is not an "
                                "IP address.")
                     .arg(FSettings.RotctldAddress));
    return;
  }
  TRotctldServers::TOptions Options;
  Options.Address = Address;
  Options.BasePort = FSettings.RotctldPort;
  FServers = std::make_unique<TRotctldServers>(FStation, Options);
  connect(FServers.get(), &TRotctldServers::Message, this, &TStationNetwork::Message);

  Guarded([this] { FServers->Sync(); });
}
