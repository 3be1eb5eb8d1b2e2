#pragma once
// The automation object on the D-Bus session bus: the object "/Orbalt" with
// the interface "Orbalt.IOrbalt" under the bus name "Orbalt.Orbalt".
//
// Every bus connection that has called an operation counts as a client that
// holds the object until it leaves the bus. A program started for a client
// (by bus activation) ends when the last client has left; LastClientLeft
// tells it when.

#include "remote/Orbalt.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QSet>
#include <QString>

class QDBusServiceWatcher;

// Names on the bus.
inline const QString OrbaltServiceName = QStringLiteral("Orbalt.Orbalt");
inline const QString OrbaltObjectPath = QStringLiteral("/Orbalt");
inline const QString OrbaltInterfaceName = QStringLiteral("Orbalt.IOrbalt");
// The error a status-form operation answers with when it fails.
inline const QString OrbaltErrorFailed = QStringLiteral("Orbalt.Error.Failed");

class TOrbaltDBusServer : public QObject, public QDBusContext {
  Q_OBJECT
public:
  // Serves Object (not owned) on Connection once Start has succeeded.
  TOrbaltDBusServer(TOrbalt &Object, const QDBusConnection &Connection,
                    QObject *Parent = nullptr);
  ~TOrbaltDBusServer() override;

  // Registers the object and takes the bus name. False, with the reason in
  // Error, when the bus can't be reached or the name is taken; nothing is
  // left registered then.
  bool Start(QString *Error = nullptr);
  // Gives up the name and the object.
  void Stop();
  bool Started() const { return FStarted; }

  // The unique bus names of the clients that hold the object.
  QSet<QString> Clients() const { return FClients; }
  int ClientCount() const { return static_cast<int>(FClients.size()); }

  TOrbalt &Object() { return FObject; }

  // Called by the adaptor for each operation: the caller becomes a client.
  void NoteCaller();

signals:
  // The number of clients has changed.
  void ClientsChanged(int Count);
  // The last client has left the bus.
  void LastClientLeft();

private:
  void ClientLeft(const QString &Name);

  TOrbalt &FObject;
  QDBusConnection FConnection;
  QDBusServiceWatcher *FWatcher;
  QSet<QString> FClients;
  bool FStarted = false;
};

// The interface "Orbalt.IOrbalt" over the server's TOrbalt. The operations
// are listed in their table order, each with its dispatch id. Booleans are
// int16: -1 true, 0 false. The status-form operations (Enable, RotatorCount,
// RotatorIndex, GetRotatorTitle) answer an error inside with the D-Bus error
// "Orbalt.Error.Failed" and its message; the others never answer an error.
class TOrbaltDBusAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "Orbalt.IOrbalt")
  Q_CLASSINFO("D-Bus Introspection",
              "  <interface name=\"Orbalt.IOrbalt\">\n"
              "    <method name=\"Enable\">\n"
              "      <arg name=\"Value\" type=\"n\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"1\"/>\n"
              "    </method>\n"
              "    <method name=\"RotatorCount\">\n"
              "      <arg name=\"Value\" type=\"i\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"2\"/>\n"
              "    </method>\n"
              "    <method name=\"RotatorIndex\">\n"
              "      <arg name=\"Value\" type=\"i\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"3\"/>\n"
              "    </method>\n"
              "    <method name=\"GetRotatorActive\">\n"
              "      <arg name=\"RotatorIndex\" type=\"i\" direction=\"in\"/>\n"
              "      <arg name=\"Result\" type=\"n\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"4\"/>\n"
              "    </method>\n"
              "    <method name=\"GetRotatorTitle\">\n"
              "      <arg name=\"RotatorIndex\" type=\"i\" direction=\"in\"/>\n"
              "      <arg name=\"GetRotatorTitle\" type=\"s\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"5\"/>\n"
              "    </method>\n"
              "    <method name=\"GetRotatorAzumuth\">\n"
              "      <arg name=\"RotatorIndex\" type=\"i\" direction=\"in\"/>\n"
              "      <arg name=\"Result\" type=\"i\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"6\"/>\n"
              "    </method>\n"
              "    <method name=\"Move\">\n"
              "      <arg name=\"RotatorIndex\" type=\"i\" direction=\"in\"/>\n"
              "      <arg name=\"Azimuth\" type=\"i\" direction=\"in\"/>\n"
              "      <arg name=\"Result\" type=\"n\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"9\"/>\n"
              "    </method>\n"
              "    <method name=\"Open\">\n"
              "      <arg name=\"RotatorIndex\" type=\"i\" direction=\"in\"/>\n"
              "      <arg name=\"Result\" type=\"n\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"7\"/>\n"
              "    </method>\n"
              "    <method name=\"Close\">\n"
              "      <arg name=\"RotatorIndex\" type=\"i\" direction=\"in\"/>\n"
              "      <arg name=\"Result\" type=\"n\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"8\"/>\n"
              "    </method>\n"
              "    <method name=\"Rotate\">\n"
              "      <arg name=\"Azimuth\" type=\"i\" direction=\"in\"/>\n"
              "      <arg name=\"Freq\" type=\"d\" direction=\"in\"/>\n"
              "      <arg name=\"Result\" type=\"n\" direction=\"out\"/>\n"
              "      <annotation name=\"Orbalt.DispatchId\" value=\"10\"/>\n"
              "    </method>\n"
              "  </interface>\n")
public:
  explicit TOrbaltDBusAdaptor(TOrbaltDBusServer *Server);

public slots:
  qint16 Enable();
  int RotatorCount();
  int RotatorIndex();
  qint16 GetRotatorActive(int RotatorIndex);
  QString GetRotatorTitle(int RotatorIndex);
  int GetRotatorAzumuth(int RotatorIndex);
  qint16 Move(int RotatorIndex, int Azimuth);
  qint16 Open(int RotatorIndex);
  qint16 Close(int RotatorIndex);
  qint16 Rotate(int Azimuth, double Freq);

private:
  // Runs a status-form operation; an exception becomes the error answer.
  template <class F> auto Status(F &&Operation) -> decltype(Operation());

  TOrbaltDBusServer *FServer;
};

