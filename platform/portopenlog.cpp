#include "platform/portopenlog.h"

#include "platform/logging.h"

namespace tellaran {

QString PortOpeningLine(const PortOpening& opening)
{
    const QString device = opening.device.isEmpty() ? QStringLiteral("no device") : opening.device;
    QString line = QStringLiteral("port %1 (%2, %3): ")
                       .arg(opening.port)
                       .arg(device, opening.settings.isEmpty() ? QStringLiteral("no settings")
                                                               : opening.settings);
    if (opening.opened)
        return line + QStringLiteral("opened");
    return line + QStringLiteral("not opened: ") +
           (opening.reason.isEmpty() ? QStringLiteral("unknown reason") : opening.reason);
}

void LogPortOpening(const PortOpening& opening, QString* lastFailure)
{
    const QString line = PortOpeningLine(opening);
    if (opening.opened) {
        lastFailure->clear();
        qCDebug(lcModem).noquote() << line;
        return;
    }
    if (line == *lastFailure) {
        qCDebug(lcModem).noquote() << line;
        return;
    }
    *lastFailure = line;
    qCWarning(lcModem).noquote() << line;
}

QString PortFailureHint(const QString& reason)
{
    if (reason.contains(QLatin1String("ermission")))
        return QStringLiteral("Serial devices belong to the group dialout: add your user to it "
                              "(sudo adduser $USER dialout), then log out and in again.");
    if (reason.contains(QLatin1String("busy")) || reason.contains(QLatin1String("in use")) ||
        reason.contains(QLatin1String("ocked")))
        return QStringLiteral("Another program holds the device, often ModemManager: see "
                              "\"Using a real modem\" in the help.");
    return QString();
}

} // namespace tellaran
