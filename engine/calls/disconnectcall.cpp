#include "engine/calls/disconnectcall.h"

#include "engine/channels/form2.h"
#include "engine/engine.h"
#include "engine/settings/settingsfile.h"
#include "platform/logging.h"
#include "platform/serialport.h"

namespace tellaran {

namespace {

// The serial control's "port already open": a port that stays open after being closed.
constexpr int PortStillOpenError = 8005;

void ShowDisconnectError(Engine& engine, int number, const QString& description)
{
    engine.messageBoxes().show(QStringLiteral("An error occurred! Error number ") +
                                   QString::number(number) + QStringLiteral(" Description :") +
                                   description,
                               QStringLiteral("Error"), BoxIcon::Critical, BoxButtons::Ok);
}

// Bytes not yet on the line: the port's buffer and the frames the drain has still to write.
qint64 WaitingOutput(Engine& engine)
{
    qint64 waiting = engine.modemPort().OutBufferCount();
    if (engine.isStatusWindowLoaded())
        waiting += engine.statusWindow().senddata().size();
    return waiting;
}

bool IsPortOpen(Engine& engine)
{
    // The modem window is not loaded just to learn that its port was never opened.
    return engine.isModemWindowLoaded() && engine.modemPort().PortOpen();
}

// DTR alone may not hang up (a modem set to ignore it, a cable or adapter without it): the
// hang-up goes on to the escape and "ATH" when carrier detect does not show the call ended.
void HangUpAndClosePort(Engine& engine)
{
    engine.hangUpModem();
    SerialPort& port = engine.modemPort();
    if (port.PortOpen()) {
        ShowDisconnectError(engine, PortStillOpenError,
                            QStringLiteral("The port could not be closed. ") + port.LastError());
    }
}

} // namespace

QString OutputBufferWarningText()
{
    return QStringLiteral("There is still data in the output buffer.  If ") +
           QStringLiteral("you close the port now, the data will be lost.") +
           QStringLiteral("Press Retry to wait for the data to clear, Cancel to close the port.");
}

void DisconnectCall(Engine& engine)
{
    MessageBoxService& boxes = engine.messageBoxes();
    if (boxes.show(QStringLiteral("Do You want to disconnect?"), QStringLiteral("Tellaran"),
                   BoxIcon::Question, BoxButtons::YesNo) != BoxAnswer::Yes) {
        return;
    }

    // The call ends whether or not its duration could be kept, but the user hears of it.
    QString storeError;
    const SettingsFile settings(engine.programDir());
    if (!settings.StoreConnectionTime(engine.dialerTimeText().toLatin1(), &storeError)) {
        boxes.show(ConnectionTimeNotStoredText(settings.path(), storeError), QString(),
                   BoxIcon::Warning, BoxButtons::Ok);
    }

    const QString warning = OutputBufferWarningText();
    if (!IsPortOpen(engine)) {
        boxes.show(QStringLiteral("The Connection has already been terminated !"), QString(),
                   BoxIcon::Information, BoxButtons::Ok);
        engine.endProgram();
        return;
    }
    if (WaitingOutput(engine) == 0) {
        HangUpAndClosePort(engine);
        engine.endProgram();
        return;
    }
    // Other events run while the box is open; the port is looked up afresh afterwards.
    if (boxes.show(warning, QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::RetryCancel) ==
        BoxAnswer::Retry) {
        return;
    }
    if (IsPortOpen(engine))
        HangUpAndClosePort(engine);
    engine.setModemConnected(false);
    engine.endProgram();
}

void DisconnectWithoutAsking(Engine& engine)
{
    // A call this run made or answered has a time to keep; nothing else is touched.
    if (engine.isStatusWindowLoaded() && engine.callClockStarted()) {
        const SettingsFile settings(engine.programDir());
        QString error;
        if (!settings.StoreConnectionTime(engine.dialerTimeText().toLatin1(), &error))
            qCWarning(lcModem).noquote() << ConnectionTimeNotStoredText(settings.path(), error);
    }
    if (IsPortOpen(engine)) {
        HangUpAndClosePort(engine);
        engine.setModemConnected(false);
    }
    if (engine.isStatusWindowLoaded())
        engine.deleteChannelTable();
    engine.endProgram();
}

} // namespace tellaran
