#pragma once
// The interface "Orbalt.IStation" on the automation object "/Orbalt", beside
// "Orbalt.IOrbalt": bearings from the station and turning a rotator to a
// place.
//
//   Bearing(s place) -> (d shortPath, d longPath, d distanceKm)
//   TurnTo(i rotator, s place, b longPath) -> (d azimuth)
//
// A place is a locator ("JO62qm"), "lat lon" in degrees, or a callsign looked
// up in the station's country file. A place that can't be read, an unknown
// call, no station location, or (for TurnTo) a rotator that is not enabled
// and open answer the error "Orbalt.Error.Failed" with a message that says
// which. Each call makes its caller a client of the object, as the
// operations of "Orbalt.IOrbalt" do.

#include <QDBusAbstractAdaptor>
#include <QString>

class TOrbaltDBusServer;
class TStation;

class TStationDBusAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "Orbalt.IStation")
  Q_CLASSINFO("D-Bus Introspection",
              "  <interface name=\"Orbalt.IStation\">\n"
              "    <method name=\"Bearing\">\n"
              "      <arg name=\"place\" type=\"s\" direction=\"in\"/>\n"
              "      <arg name=\"shortPath\" type=\"d\" direction=\"out\"/>\n"
              "      <arg name=\"longPath\" type=\"d\" direction=\"out\"/>\n"
              "      <arg name=\"distanceKm\" type=\"d\" direction=\"out\"/>\n"
              "    </method>\n"
              "    <method name=\"TurnTo\">\n"
              "      <arg name=\"rotator\" type=\"i\" direction=\"in\"/>\n"
              "      <arg name=\"place\" type=\"s\" direction=\"in\"/>\n"
              "      <arg name=\"longPath\" type=\"b\" direction=\"in\"/>\n"
              "      <arg name=\"azimuth\" type=\"d\" direction=\"out\"/>\n"
              "    </method>\n"
              "  </interface>\n")
public:
  // Attached to the server's object; Station must outlive it.
  TStationDBusAdaptor(TOrbaltDBusServer *Server, TStation &Station);

public slots:
  double Bearing(const QString &place, double &longPath, double &distanceKm);
  double TurnTo(int rotator, const QString &place, bool longPath);

private:
  void Fail(const QString &Message);

  TOrbaltDBusServer *FServer;
  TStation &FStation;
};

// The interface's name on the bus.
inline const QString StationInterfaceName = QStringLiteral("Orbalt.IStation");
