#pragma once
// The station's side of the network control: the command-line switches, the
// section "/Network" of the settings document, the rotctld servers for the
// station's rotators (which follow the rotators as they are inserted,
// deleted and moved), the loggers' UDP servers and band following from
// rigctld.
//
// Switches (each also in the form --switch=VALUE):
//   --rotctld [PORT]        turn the servers on, rotator i on PORT + 2 i
//                           (without PORT: the remembered one, at first 4533)
//   --rotctld off           turn the servers off
//   --rotctld-address ADDR  listen on ADDR instead of 127.0.0.1
//   --pst PORT|off          PstRotator's messages on PORT (12000 usually)
//   --n1mm PORT|off         N1MM's rotor messages on PORT (12040 usually)
//   --n1mm-status PORT      where N1MM's heading reports go (13010)
//   --rigctld HOST:PORT|off follow the rig's frequency from rigctld
//   --web PORT|off          the web page on PORT (8080 usually)
//   --web-address ADDR      serve the page on ADDR instead of 127.0.0.1 (only
//                           with a web password set)
// What the switches set is remembered in "/Network", so that later starts
// without them run the same way.

#include "remote/RigctldFollower.h"
#include "remote/RotctldServer.h"
#include "remote/UdpRotorServers.h"
#include "remote/WebServer.h"
#include "settings/NetworkSettings.h"

#include <QObject>
#include <QTimer>
#include <QStringList>

#include <memory>
#include <optional>

class TStation;

struct TNetworkArguments {
  // --rotctld (true) or --rotctld off (false); nothing when not given.
  std::optional<bool> Enable;
  std::optional<int> Port;
  std::optional<QString> Address;
  std::optional<bool> PstEnable;
  std::optional<int> PstPort;
  std::optional<bool> N1mmEnable;
  std::optional<int> N1mmPort;
  std::optional<int> N1mmStatusPort;
  std::optional<bool> RigctldEnable;
  std::optional<QString> RigctldHost;
  std::optional<int> RigctldPort;
  std::optional<bool> WebEnable;
  std::optional<int> WebPort;
  std::optional<QString> WebAddress;
  // One text per switch whose value could not be used.
  QStringList Errors;
};

// Takes the switches out of Arguments (the program name first, as in
// QCoreApplication::arguments) and leaves everything else in place.
TNetworkArguments TakeNetworkArguments(QStringList &Arguments);

// Settings with what the switches set.
TNetworkSettings ApplyNetworkArguments(TNetworkSettings Settings,
                                       const TNetworkArguments &Arguments);

// The address a text names: an IP address, or "localhost"; null when it is
// neither.
QHostAddress RotctldAddress(const QString &Text);

class TStationNetwork : public QObject {
  Q_OBJECT
public:
  // Nothing runs until Start.
  TStationNetwork(TStation &Station, TNetworkArguments Arguments);
  ~TStationNetwork() override;

  // Reads "/Network" of the station's settings document, writes it back when
  // the switches changed it, and starts the servers when they are on.
  // Problems (a bad switch, an address that is none, keys that did not
  // convert, a port in use) are raised as Message, a settings file that
  // can't be read or written goes to the exception dialog; the program goes
  // on without the servers concerned.
  void Start();

  // New settings (the network page): written to the document when they
  // differ (a failure throws TSettingsError and changes nothing), then every
  // server and link stopped and started again as they say (once none of
  // them is carrying out a request).
  void Apply(const TNetworkSettings &Settings);

  // The settings in force.
  const TNetworkSettings &Settings() const { return FSettings; }
  // The running servers; null while the servers are off.
  TRotctldServers *Servers() const { return FServers.get(); }
  TPstServer *Pst() const { return FPst.get(); }
  TN1mmListener *N1mm() const { return FN1mm.get(); }
  TRigctldFollower *Rigctld() const { return FRigctld.get(); }
  TWebServer *Web() const { return FWeb.get(); }

signals:
  void Message(const QString &Text);
  // How a logger's link stands (rigctld's state, a datagram ignored); Often
  // for notices that come with every change of frequency.
  void Notice(const QString &Text, bool Often);

private:
  void StartServers();
  void StartLoggers();
  void StartWeb();
  // Stops and starts every server and link as FSettings says; later, when
  // one of them is busy.
  void Restart();

  TStation &FStation;
  TNetworkArguments FArguments;
  TNetworkSettings FSettings;
  std::unique_ptr<TRotctldServers> FServers;
  std::unique_ptr<TPstServer> FPst;
  std::unique_ptr<TN1mmListener> FN1mm;
  std::unique_ptr<TRigctldFollower> FRigctld;
  std::unique_ptr<TWebServer> FWeb;
  QTimer FRestartTimer;
};
