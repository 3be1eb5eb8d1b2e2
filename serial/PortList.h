#pragma once
// The serial ports this computer offers, for the operator to pick from.
//
// USB adapters get kernel names (/dev/ttyUSB0, /dev/ttyACM0) in the order they
// were plugged in, so the name of one adapter can change from one start to the
// next; udev also gives each a stable link under /dev/serial/by-id named after
// the adapter's maker, model and serial number. Both are offered: each device,
// followed by its stable links.

#include <QString>
#include <QStringList>

// Devices in their order, each followed by the links in LinkFolder that lead
// to it (by name); links to devices not among Devices come last. A missing
// LinkFolder adds nothing.
QStringList SerialPortChoices(const QStringList &Devices, const QString &LinkFolder);

// The serial ports found now, with their links under /dev/serial/by-id.
QStringList AvailableSerialPorts();
