#include "engine/settings/portdescription.h"

#include "platform/datafile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace tellaran {

namespace {

constexpr int FirstDefaultPort = 1;
constexpr int LastDefaultPort = 4;

// The device the system lists under this name, or under the file a link points to
// (/dev/serial/by-id/... names a /dev/ttyUSB device).
const SerialDevice* findDevice(const QString& device, const QList<SerialDevice>& devices)
{
    const QString resolved = QFileInfo(device).canonicalFilePath();
    for (const SerialDevice& candidate : devices) {
        if (candidate.device == device || (!resolved.isEmpty() && candidate.device == resolved))
            return &candidate;
    }
    return nullptr;
}

QString whatItIs(const SerialDevice& device)
{
    return device.description.isEmpty() ? device.manufacturer : device.description;
}

} // namespace

int PortNumberOf(const QString& fieldText)
{
    const qint64 number = datafile::numericValue(fieldText.toLatin1());
    return number > 0 && number <= 0x7fffffff ? int(number) : 0;
}

QString DescribePortTarget(const portmap::PortTarget& target, const QList<SerialDevice>& devices)
{
    switch (target.kind) {
    case portmap::PortTarget::VirtualModem: {
        QString text = QStringLiteral("virtual modem, line %1").arg(target.line);
        if (target.lineRate == 0)
            text += QStringLiteral(", unpaced");
        else if (target.lineRate > 0)
            text += QStringLiteral(", %1 bit/s").arg(target.lineRate);
        return text;
    }
    case portmap::PortTarget::Device: {
        const SerialDevice* found = findDevice(target.device, devices);
        if (!found)
            return QStringLiteral("%1 (not present)").arg(target.device);
        const QString what = whatItIs(*found);
        return what.isEmpty() ? QStringLiteral("%1 (present)").arg(target.device)
                              : QStringLiteral("%1 (%2, present)").arg(target.device, what);
    }
    case portmap::PortTarget::NoDevice:
        break;
    }
    return QStringLiteral("no port: the number must be 1 or more");
}

QString DescribePort(const QList<portmap::PortMapRecord>& records, int port,
                     const QList<SerialDevice>& devices)
{
    return DescribePortTarget(portmap::resolvePort(records, port), devices);
}

QString PortSpeedAdvice(const portmap::PortTarget& target, const QString& portSettings)
{
    // A 56k line carries 5,600 bytes/s, more with compression; at ten bits a byte on the
    // port, 57600 is the least speed that keeps up with it.
    constexpr qint64 FastEnough = 57600;
    if (target.kind != portmap::PortTarget::Device)
        return QString();
    const qint64 speed = datafile::numericValue(portSettings.toLatin1());
    if (speed <= 0 || speed >= FastEnough)
        return QString();
    return QStringLiteral("at %1 bit/s the port carries at most %2 bytes/s: set 57600 or 115200 "
                          "in Settings for a 56k modem")
        .arg(speed)
        .arg(speed / 10);
}

QStringList DeviceLines(const QList<SerialDevice>& devices)
{
    QStringList lines;
    for (const SerialDevice& device : devices) {
        QStringList about;
        if (!device.description.isEmpty())
            about.append(device.description);
        if (!device.manufacturer.isEmpty())
            about.append(QStringLiteral("maker: %1").arg(device.manufacturer));
        lines.append(about.isEmpty() ? device.device
                                     : QStringLiteral("%1 (%2)").arg(
                                           device.device, about.join(QStringLiteral(", "))));
    }
    return lines;
}

QString CommPortHelpText(const QString& portMapFile, const QList<SerialDevice>& devices)
{
    QString text =
        QStringLiteral(
            "Communication Port is the port your modem is connected to. Port n is /dev/ttyS(n-1) "
            "unless the port map %1 names another device, one line a port: 1,\"/dev/ttyUSB0\" for "
            "a USB modem, 1,\"modem:5551\" for the built-in virtual modem on line 5551.")
            .arg(QDir::toNativeSeparators(portMapFile));
    const QStringList lines = DeviceLines(devices);
    if (lines.isEmpty())
        text += QStringLiteral(" No serial device was found on this computer.");
    else
        text += QStringLiteral(" Found here: %1.").arg(lines.join(QStringLiteral("; ")));
    return text;
}

QString PortsReport(const QString& portMapFile, bool mapExists,
                    const QList<portmap::PortMapRecord>& records,
                    const QList<SerialDevice>& devices)
{
    QString report = QStringLiteral("Port map %1\n").arg(QDir::toNativeSeparators(portMapFile));
    QSet<int> mapped;
    if (!mapExists)
        report += QStringLiteral("  (no such file: every port means its serial device)\n");
    else if (records.isEmpty())
        report += QStringLiteral("  (no records)\n");
    for (const portmap::PortMapRecord& record : records) {
        report += QStringLiteral("  port %1: %2 = %3")
                      .arg(record.port)
                      .arg(record.target.text(), DescribePortTarget(record.target, devices));
        // The first record of a port is the one that counts.
        if (mapped.contains(record.port))
            report += QStringLiteral(" (ignored: an earlier record maps port %1)").arg(record.port);
        mapped.insert(record.port);
        report += QLatin1Char('\n');
    }

    report += QStringLiteral("Ports %1 to %2 without a record\n")
                  .arg(FirstDefaultPort)
                  .arg(LastDefaultPort);
    bool anyDefault = false;
    for (int port = FirstDefaultPort; port <= LastDefaultPort; ++port) {
        if (mapped.contains(port))
            continue;
        anyDefault = true;
        report += QStringLiteral("  port %1: %2\n")
                      .arg(port)
                      .arg(DescribePortTarget(portmap::defaultTarget(port), devices));
    }
    if (!anyDefault)
        report += QStringLiteral("  (all have a record)\n");

    report += QStringLiteral("Serial devices on this computer\n");
    const QStringList lines = DeviceLines(devices);
    if (lines.isEmpty())
        report += QStringLiteral("  (none found)\n");
    for (const QString& line : lines)
        report += QStringLiteral("  %1\n").arg(line);
    return report;
}

} // namespace tellaran
