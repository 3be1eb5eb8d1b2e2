#include "settings/NetworkSettings.h"

#include "settings/SettingsDocument.h"
#include "settings/XMLIniFile.h"

#include <algorithm>

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

  const auto ReadPort = [&](const QString &Key, int &Value) {
    const int Port = Keys.Integer(Key, Value);
    if (Port >= 0 && Port <= 65535)
      Value = Port;
    else
      Keys.Note(Key, QStringLiteral("%1 is not a port number").arg(Port));
  };
  const auto ReadText = [&](const QString &Key, QString &Value) {
    const QString Text = Keys.String(Key, Value).trimmed();
    if (!Text.isEmpty())
      Value = Text;
  };
  Settings.PstEnable = Keys.Bool(QStringLiteral("PstEnable"), Defaults.PstEnable);
  ReadPort(QStringLiteral("PstPort"), Settings.PstPort);
  Settings.PstRotator = std::max(-1, Keys.Integer(QStringLiteral("PstRotator"), Defaults.PstRotator));
  Settings.N1mmEnable = Keys.Bool(QStringLiteral("N1mmEnable"), Defaults.N1mmEnable);
  ReadPort(QStringLiteral("N1mmPort"), Settings.N1mmPort);
  ReadPort(QStringLiteral("N1mmStatusPort"), Settings.N1mmStatusPort);
  ReadText(QStringLiteral("UdpAddress"), Settings.UdpAddress);
  Settings.RigctldEnable = Keys.Bool(QStringLiteral("RigctldEnable"), Defaults.RigctldEnable);
  ReadText(QStringLiteral("RigctldHost"), Settings.RigctldHost);
  ReadPort(QStringLiteral("RigctldPort"), Settings.RigctldPort);
  Settings.WebEnable = Keys.Bool(QStringLiteral("WebEnable"), Defaults.WebEnable);
  ReadPort(QStringLiteral("WebPort"), Settings.WebPort);
  ReadText(QStringLiteral("WebAddress"), Settings.WebAddress);
  Settings.WebPassword = Keys.String(QStringLiteral("WebPassword"), QString()).trimmed();
  Settings.WebCertificate = Keys.String(QStringLiteral("WebCertificate"), QString()).trimmed();
  Settings.WebKey = Keys.String(QStringLiteral("WebKey"), QString()).trimmed();
  return Settings;
}

void WriteNetworkSettings(TXMLIniFile &Ini, const TNetworkSettings &Settings) {
  Ini.OpenNode(NetworkSection, true);
  Ini.WriteBool(EnableKey, Settings.RotctldEnable);
  Ini.WriteInteger(PortKey, Settings.RotctldPort);
  Ini.WriteString(AddressKey, Settings.RotctldAddress);
  Ini.WriteBool(QStringLiteral("PstEnable"), Settings.PstEnable);
  Ini.WriteInteger(QStringLiteral("PstPort"), Settings.PstPort);
  Ini.WriteInteger(QStringLiteral("PstRotator"), Settings.PstRotator);
  Ini.WriteBool(QStringLiteral("N1mmEnable"), Settings.N1mmEnable);
  Ini.WriteInteger(QStringLiteral("N1mmPort"), Settings.N1mmPort);
  Ini.WriteInteger(QStringLiteral("N1mmStatusPort"), Settings.N1mmStatusPort);
  Ini.WriteString(QStringLiteral("UdpAddress"), Settings.UdpAddress);
  Ini.WriteBool(QStringLiteral("RigctldEnable"), Settings.RigctldEnable);
  Ini.WriteString(QStringLiteral("RigctldHost"), Settings.RigctldHost);
  Ini.WriteInteger(QStringLiteral("RigctldPort"), Settings.RigctldPort);
  Ini.WriteBool(QStringLiteral("WebEnable"), Settings.WebEnable);
  Ini.WriteInteger(QStringLiteral("WebPort"), Settings.WebPort);
  Ini.WriteString(QStringLiteral("WebAddress"), Settings.WebAddress);
  Ini.WriteString(QStringLiteral("WebPassword"), Settings.WebPassword);
  Ini.WriteString(QStringLiteral("WebCertificate"), Settings.WebCertificate);
  Ini.WriteString(QStringLiteral("WebKey"), Settings.WebKey);
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
