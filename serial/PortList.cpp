#include "serial/PortList.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSerialPortInfo>

QStringList SerialPortChoices(const QStringList &Devices, const QString &LinkFolder) {
  // The links by the device they lead to, each device's in name order.
  QMap<QString, QStringList> LinksOf;
  const QFileInfoList Entries = QDir(LinkFolder).entryInfoList(
      QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QFileInfo &Entry : Entries) {
    const QString Target = Entry.canonicalFilePath();
    if (Entry.isSymLink() && !Target.isEmpty())
      LinksOf[Target] << Entry.absoluteFilePath();
  }
  QStringList Choices;
  for (const QString &Device : Devices) {
    Choices << Device;
    const QString Real = QFileInfo(Device).canonicalFilePath();
    if (!Real.isEmpty())
      Choices << LinksOf.take(Real);
  }
  for (const QStringList &Links : std::as_const(LinksOf))
    Choices << Links;
  return Choices;
}

QStringList AvailableSerialPorts() {
  QStringList Devices;
  for (const QSerialPortInfo &Info : QSerialPortInfo::availablePorts())
    Devices << Info.systemLocation();
  return SerialPortChoices(Devices, QStringLiteral("/dev/serial/by-id"));
}
