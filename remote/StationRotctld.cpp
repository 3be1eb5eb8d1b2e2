#include "remote/StationRotctld.h"

#include "base/UiServices.h"
#include "station/Station.h"

#include <QRegularExpression>

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

TStationRotctld::TStationRotctld(TStation &Station, TRotctldArguments Arguments)
    : FStation(Station), FArguments(std::move(Arguments)) {}

TStationRotctld::~TStationRotctld() { FServers.reset(); }

void TStationRotctld::Start() {
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
  const TNetworkSettings Wanted = ApplyRotctldArguments(FSettings, FArguments);
  if (Loaded && Wanted != FSettings)
    Guarded([&] { SaveNetworkSettings(FStation.SettingsFile(), Wanted); });
  FSettings = Wanted;

  if (FSettings.RotctldEnable)
    StartServers();
}

void TStationRotctld::StartServers() {
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
  connect(FServers.get(), &TRotctldServers::Message, this, &TStationRotctld::Message);

  // The servers catch up with an inserted, deleted or moved rotator once the
  // change has finished.
  auto Schedule = [this] { FServers->ScheduleSync(); };
  connect(&FStation, &TStation::RotatorAdded, this, Schedule);
  connect(&FStation, &TStation::RotatorRemoved, this, Schedule);
  connect(&FStation, &TStation::RotatorMoved, this, Schedule);
  // A station that goes first takes its rotators with it.
  connect(&FStation, &QObject::destroyed, this, [this] { FServers->Stop(); });

  Guarded([this] { FServers->Sync(); });
}
