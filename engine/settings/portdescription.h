#pragma once

#include "platform/portmap.h"
#include "platform/serialdevices.h"

#include <QList>
#include <QString>

// What a port number means on this computer, in words: for the settings dialog's line under
// "Comm Port", its help text, and the engine's --ports report.
namespace tellaran {

// The port number the engine takes from the "Comm Port" field: the leading number.
int PortNumberOf(const QString& fieldText);

// "virtual modem, line 5551", "/dev/ttyUSB0 (USB modem, present)", "/dev/ttyS0 (not present)".
QString DescribePortTarget(const portmap::PortTarget& target, const QList<SerialDevice>& devices);

// The same for a port number, through the map's records.
QString DescribePort(const QList<portmap::PortMapRecord>& records, int port,
                     const QList<SerialDevice>& devices);

// For a real device whose port settings ("9600,n,8,1") run below 57600 bit/s, a word that a
// 56k modem's line is capped there; empty otherwise.
QString PortSpeedAdvice(const portmap::PortTarget& target, const QString& portSettings);

// The detected devices as one line each: "/dev/ttyUSB0 (USB modem, maker: Acme)".
QStringList DeviceLines(const QList<SerialDevice>& devices);

// The "Comm Port" field's help text: what a number means and how the port map changes it,
// and the devices found here.
QString CommPortHelpText(const QString& portMapFile, const QList<SerialDevice>& devices);

// The port map in full, for the command line: every record of the map file (which may be
// missing: mapExists false), what ports 1 to 4 mean when they have no record, and the
// devices found here.
QString PortsReport(const QString& portMapFile, bool mapExists,
                    const QList<portmap::PortMapRecord>& records,
                    const QList<SerialDevice>& devices);

} // namespace tellaran
