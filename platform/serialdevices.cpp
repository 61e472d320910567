#include "platform/serialdevices.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace tellaran {

QList<SerialDevice> detectSerialDevices()
{
    QList<SerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        devices.append({info.systemLocation(), info.description(), info.manufacturer()});
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.device < b.device; });
    return devices;
}

} // namespace tellaran
