#include "NetworkSettings.h"

#include "SettingsDocument.h"
#include "XMLIniFile.h"

namespace {

const QString EnableKey = QStringLiteral("RotctldEnable");
const QString PortKey = QStringLiteral("RotctldPort");
const QString AddressKey = QStringLiteral("RotctldAddress");

// Reads one key; a text that does not convert gives Default and a problem.
template <class T, class F>
T Tolerant(const QString &Key, const T &Default, QStringList &Problems, F Read) {
  try {
    return Read();
  } catch (const TSettingsError &E) {
    Problems.append(QStringLiteral("%1, key \"%2\": %3").arg(NetworkSection, Key, E.Message()));
    return Default;
  }
}

} // namespace

TNetworkSettings ReadNetworkSettings(TXMLIniFile &Ini, QStringList &Problems) {
  TNetworkSettings Settings;
  if (!Ini.NodeExists(NetworkSection))
    return Settings;
  Ini.OpenNode(NetworkSection, false);
  const pugi::xml_node Section = Ini.CurrentNode();
  const TNetworkSettings Defaults;

  Settings.RotctldEnable = Tolerant(EnableKey, Defaults.RotctldEnable, Problems, [&] {
    return Ini.ReadBool(EnableKey, Defaults.RotctldEnable, Section);
  });
  const int Port = Tolerant(PortKey, Defaults.RotctldPort, Problems, [&] {
    return Ini.ReadInteger(PortKey, Defaults.RotctldPort, Section);
  });
  if (Port >= 0 && Port <= 65535)
    Settings.RotctldPort = Port;
  else
    Problems.append(QStringLiteral("%1, key \"%2\": %3 is not a port number")
                        .arg(NetworkSection, PortKey)
                        .arg(Port));
  const QString Address = Tolerant(AddressKey, Defaults.RotctldAddress, Problems, [&] {
    return Ini.ReadString(AddressKey, Defaults.RotctldAddress, Section);
  });
  if (!Address.trimmed().isEmpty())
    Settings.RotctldAddress = Address.trimmed();
  return Settings;
}

void WriteNetworkSettings(TXMLIniFile &Ini, const TNetworkSettings &Settings) {
  Ini.OpenNode(NetworkSection, true);
  Ini.WriteBool(EnableKey, Settings.RotctldEnable);
  Ini.WriteInteger(PortKey, Settings.RotctldPort);
  Ini.WriteString(AddressKey, Settings.RotctldAddress);
  Ini.CloseNode();
}

TNetworkSettings LoadNetworkSettings(const QString &XmlName) {
  TXMLIniFile Ini(XmlName);
  QStringList Problems;
  const TNetworkSettings Settings = ReadNetworkSettings(Ini, Problems);
  ReportLoadProblems(XmlName, Problems);
  return Settings;
}

void SaveNetworkSettings(const QString &XmlName, const TNetworkSettings &Settings) {
  TXMLIniFile Ini(XmlName);
  WriteNetworkSettings(Ini, Settings);
  Ini.UpdateFile();
}
