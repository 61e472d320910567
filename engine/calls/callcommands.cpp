#include "engine/calls/callcommands.h"

#include "platform/portopenlog.h"
#include "platform/serialport.h"

namespace tellaran {

QByteArray AnswerCommand()
{
    return QByteArrayLiteral("ATE1S0=1\r\n");
}

QByteArray DialCommand(const QByteArray& number)
{
    return "ATD" + number + "\r\n";
}

bool OpenModemPort(SerialPort& port, QString* failureText)
{
    if (port.PortOpen())
        return true;
    port.setPortOpen(true);
    if (port.PortOpen())
        return true;
    const QString reason =
        port.LastError().isEmpty() ? QStringLiteral("unknown reason") : port.LastError();
    *failureText = QStringLiteral("The modem port %1 (%2) could not be opened.\n\n%3")
                       .arg(port.CommPort())
                       .arg(port.DeviceName(), reason);
    if (const QString hint = PortFailureHint(reason); !hint.isEmpty())
        *failureText += QStringLiteral("\n\n") + hint;
    return false;
}

} // namespace tellaran
