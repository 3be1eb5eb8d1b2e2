// The ports offered to the operator: each device with its stable links.

#include "serial/PortList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(SerialPortChoices, EachDeviceIsFollowedByTheStableLinksThatLeadToIt) {
  QTemporaryDir Root;
  ASSERT_TRUE(Root.isValid());
  const QDir Dir(Root.path());
  ASSERT_TRUE(Dir.mkdir("by-id"));
  for (const char *Device : {"ttyUSB0", "ttyUSB1", "ttyACM0"}) {
    QFile File(Dir.filePath(Device));
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
  }
  // Links as udev makes them: relative, two for one adapter with two
  // interfaces seen as one device here, one for a device the port list missed,
  // and one that leads nowhere.
  const std::pair<const char *, const char *> Links[] = {
      {"usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../ttyUSB1"},
      {"usb-Prolific_PL2303-if00-port0", "../ttyUSB0"},
      {"usb-Prolific_PL2303-if01-port0", "../ttyUSB0"},
      {"usb-Arduino_Uno_7543-if00", "../ttyACM0"},
      {"usb-Gone_Adapter-if00-port0", "../ttyUSB9"},
  };
  for (const auto &[Name, Target] : Links)
    ASSERT_TRUE(QFile::link(Target, Dir.filePath(QStringLiteral("by-id/") + Name)));

  const QString Id = Dir.filePath("by-id/");
  const QStringList Devices = {Dir.filePath("ttyUSB0"), Dir.filePath("ttyUSB1")};
  EXPECT_EQ(SerialPortChoices(Devices, Dir.filePath("by-id")),
            (QStringList{Devices[0], Id + "usb-Prolific_PL2303-if00-port0",
                         Id + "usb-Prolific_PL2303-if01-port0", Devices[1],
                         Id + "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                         Id + "usb-Arduino_Uno_7543-if00"}));

  // No link folder (no USB adapter plugged in): the devices alone.
  EXPECT_EQ(SerialPortChoices(Devices, Dir.filePath("none")), Devices);
  EXPECT_TRUE(SerialPortChoices({}, Dir.filePath("none")).isEmpty());
}

} // namespace
