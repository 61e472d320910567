#pragma once

#include <QString>

// The troubleshooting log's line for each opening of the modem port (tellaran.modem).
namespace tellaran {

struct PortOpening
{
    int port = 0;
    // What the port number means: a device file or "modem:<line>"; empty for no port.
    QString device;
    // The port's settings as given ("57600,n,8,1").
    QString settings;
    bool opened = false;
    // Why the open failed.
    QString reason;
};

// "port 1 (/dev/ttyUSB0, 57600,n,8,1): opened", or "...: not opened: <reason>".
QString PortOpeningLine(const PortOpening& opening);

// Logs the opening. A failure is a warning, shown even with the log off, except when it
// repeats the failure before it (`lastFailure`, kept by the caller), which the start-up's
// commands would otherwise print once each; a success clears it.
void LogPortOpening(const PortOpening& opening, QString* lastFailure);

// What usually lies behind a failure to open a serial device, for the user: a missing
// permission (the dialout group) or another program holding the device. Empty when the
// reason names neither.
QString PortFailureHint(const QString& reason);

} // namespace tellaran
