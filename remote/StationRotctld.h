#pragma once
// The station's side of the network control through the rotctld protocol:
// the command-line switches, the section "/Network" of the settings
// document, and the servers for the station's rotators, which follow the
// rotators as they are inserted, deleted and moved.
//
// Switches (each also in the form --switch=VALUE):
//   --rotctld [PORT]        turn the servers on, rotator i on PORT + 2 i
//                           (without PORT: the remembered one, at first 4533)
//   --rotctld off           turn the servers off
//   --rotctld-address ADDR  listen on ADDR instead of 127.0.0.1
// What the switches set is remembered in "/Network", so that later starts
// without them run the same way.

#include "remote/RotctldServer.h"
#include "settings/NetworkSettings.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <optional>

class TStation;

struct TRotctldArguments {
  // --rotctld (true) or --rotctld off (false); nothing when not given.
  std::optional<bool> Enable;
  std::optional<int> Port;
  std::optional<QString> Address;
  // One text per switch whose value could not be used.
  QStringList Errors;
};

// Takes the switches out of Arguments (the program name first, as in
// QCoreApplication::arguments) and leaves everything else in place.
TRotctldArguments TakeRotctldArguments(QStringList &Arguments);

// Settings with what the switches set.
TNetworkSettings ApplyRotctldArguments(TNetworkSettings Settings,
                                       const TRotctldArguments &Arguments);

// The address a text names: an IP address, or "localhost"; null when it is
// neither.
QHostAddress RotctldAddress(const QString &Text);

class TStationRotctld : public QObject {
  Q_OBJECT
public:
  // Nothing runs until Start.
  TStationRotctld(TStation &Station, TRotctldArguments Arguments);
  ~TStationRotctld() override;

  // Reads "/Network" of the station's settings document, writes it back when
  // the switches changed it, and starts the servers when they are on.
  // Problems (a bad switch, an address that is none, keys that did not
  // convert, a port in use) are raised as Message, a settings file that
  // can't be read or written goes to the exception dialog; the program goes
  // on without the servers concerned.
  void Start();

  // The settings in force.
  const TNetworkSettings &Settings() const { return FSettings; }
  // The running servers; null while the servers are off.
  TRotctldServers *Servers() const { return FServers.get(); }

signals:
  void Message(const QString &Text);

private:
  void StartServers();

  TStation &FStation;
  TRotctldArguments FArguments;
  TNetworkSettings FSettings;
  std::unique_ptr<TRotctldServers> FServers;
};
