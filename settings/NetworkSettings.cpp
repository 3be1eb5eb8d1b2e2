#include "settings/NetworkSettings.h"

#include "settings/SettingsDocument.h"
#include "settings/XMLIniFile.h"

namespace {

const QString EnableKey = QStringLiteral("RotctldEnable");
const QString PortKey = QStringLiteral("RotctldPort");
const QString AddressKey = QStringLiteral("RotctldAddress");

} // namespace

TNetworkSettings ReadNetworkSettings(TXMLIniFile &Ini, TLoadProblems &Problems) {
  TNetworkSettings Settings;
  if (!Ini.NodeExists(NetworkSection))
    return Settings;
  Ini.OpenNode(NetworkSection, false);
  TKeyReader Keys(Ini, Ini.CurrentNode(), NetworkSection, Problems);
  const TNetworkSettings Defaults;

  Settings.RotctldEnable = Keys.Bool(EnableKey, Defaults.RotctldEnable);
  const int Port = Keys.Integer(PortKey, Defaults.RotctldPort);
  if (Port >= 0 && Port <= 65535)
    Settings.RotctldPort = Port;
  else
    Keys.Note(PortKey, QStringLiteral("%1 is not a port number").arg(Port));
  const QString Address = Keys.String(AddressKey, Defaults.RotctldAddress);
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

TNetworkSettings LoadNetworkSettings(const QString &XmlName, TLoadProblems &Problems) {
  TXMLIniFile Ini(XmlName);
  return ReadNetworkSettings(Ini, Problems);
}

void SaveNetworkSettings(const QString &XmlName, const TNetworkSettings &Settings) {
  TXMLIniFile Ini(XmlName);
  WriteNetworkSettings(Ini, Settings);
  Ini.UpdateFile();
}
