#pragma once

#include "engine/messageboxservice.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace tellaran {

class SerialPort;

// The info box's traffic counters. Each starts at 0 and only grows, except noofchan, which
// follows the channel table.
struct TrafficCounters
{
    qint64 noofchan = 0;
    qint64 bytessent = 0;
    qint64 bytesreceived = 0;
    qint64 nooftrans = 0;
};

// What the parts of one engine ask of the whole. Subsystems lower in the tree (channels)
// reach higher ones (the modem window, the windows of later parts) only through this
// interface, so that each library links just what it needs and a test can stand in for the
// rest. Nothing here is static: a process may hold several engines.
class Engine
{
public:
    virtual ~Engine() = default;

    // The engine program's directory; its data files live in programDir() + "/data/".
    virtual QString programDir() const = 0;
    QString dataPath(const QString& fileName) const
    {
        return programDir() + QStringLiteral("/data/") + fileName;
    }
    // TCP port of the channel server (6789 in production).
    virtual quint16 channelPort() const = 0;

    virtual MessageBoxService& messageBoxes() = 0;
    // Ends the program: every window closes without its own closing steps, files, sockets
    // and the port close, and the event loop ends.
    virtual void endProgram() = 0;

    // The modem window's Connected flag. Reading it never loads the modem window; it reads
    // false until that window is loaded.
    virtual bool modemConnected() const = 0;
    // Whether the modem window is loaded (its start-up has run).
    virtual bool isModemWindowLoaded() const = 0;
    // The modem window's serial port; reaching it loads the modem window first.
    virtual SerialPort& modemPort() = 0;

    // The info box's counters.
    virtual TrafficCounters& counters() = 0;

    // A user message relayed from the other computer: shown in a new message window.
    virtual void showUserMessage(const QByteArray& text) = 0;

    // The mode window (call or answer mode). The settings dialog hides it while it is open
    // and shows it again when it closes.
    virtual void showModeWindow() = 0;
    virtual void hideModeWindow() = 0;
};

} // namespace tellaran
