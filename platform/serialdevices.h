#pragma once

#include <QList>
#include <QString>

namespace tellaran {

// A serial device the system reports on this computer.
struct SerialDevice
{
    // The device file, e.g. /dev/ttyUSB0.
    QString device;
    // What the device says it is, and its maker; empty where unknown.
    QString description;
    QString manufacturer;
};

// The serial devices on this computer, in the order of their device files.
QList<SerialDevice> detectSerialDevices();

} // namespace tellaran
