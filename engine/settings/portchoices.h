#pragma once

#include "platform/portmap.h"
#include "platform/serialdevices.h"

#include <QList>
#include <QString>

// The devices the settings dialog offers for a port number: the serial devices found on
// this computer and the built-in virtual modem.
namespace tellaran {

struct PortChoice
{
    // As the list shows it: "/dev/ttyUSB0 (USB modem, maker: Acme)", "virtual modem, line 5551".
    QString text;
    portmap::PortTarget target;
};

// The virtual modem's line offered when the map names none.
inline constexpr int DefaultVirtualModemLine = 5551;

// Each device found, then the virtual modem: on the line of the first virtual-modem record of
// the map (with its rate), else on DefaultVirtualModemLine.
QList<PortChoice> PortChoices(const QList<portmap::PortMapRecord>& records,
                              const QList<SerialDevice>& devices);

// The choice that stands for the target, or -1.
qsizetype IndexOfChoice(const QList<PortChoice>& choices, const portmap::PortTarget& target);

} // namespace tellaran
