#include "engine/settings/portchoices.h"

#include "engine/settings/portdescription.h"

namespace tellaran {

QList<PortChoice> PortChoices(const QList<portmap::PortMapRecord>& records,
                              const QList<SerialDevice>& devices)
{
    QList<PortChoice> choices;
    const QStringList lines = DeviceLines(devices);
    for (qsizetype i = 0; i < devices.size(); ++i) {
        portmap::PortTarget target;
        target.kind = portmap::PortTarget::Device;
        target.device = devices[i].device;
        choices.append({lines[i], target});
    }
    portmap::PortTarget modem;
    modem.kind = portmap::PortTarget::VirtualModem;
    modem.line = QString::number(DefaultVirtualModemLine);
    for (const portmap::PortMapRecord& record : records) {
        if (record.target.kind == portmap::PortTarget::VirtualModem) {
            modem = record.target;
            break;
        }
    }
    choices.append({DescribePortTarget(modem, devices), modem});
    return choices;
}

qsizetype IndexOfChoice(const QList<PortChoice>& choices, const portmap::PortTarget& target)
{
    for (qsizetype i = 0; i < choices.size(); ++i) {
        if (choices[i].target == target)
            return i;
    }
    return -1;
}

} // namespace tellaran
