#pragma once

#include <QLoggingCategory>

#include <QByteArrayView>

// The engine's log, for troubleshooting. Debug and info messages are off unless switched on
// (QT_LOGGING_RULES="tellaran.*.debug=true", or the engine's --log); warnings are on.
// Payload bytes are never logged.
namespace tellaran {

// The AT dialogue with the modem.
Q_DECLARE_LOGGING_CATEGORY(lcModem)
// Local connections, registrations, closes, and what the channel server refuses or drops.
Q_DECLARE_LOGGING_CATEGORY(lcChannels)
// Frames crossing the modem link: DataID, size and direction.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
// The virtual modem's calls and lines.
Q_DECLARE_LOGGING_CATEGORY(lcVmodem)

// The modem dialogue: a command as written to the modem, a line as read from it (command
// mode only: once the call is up, what comes is the other computer's data).
void logModemCommand(QByteArrayView command);
void logModemLine(QByteArrayView line);

} // namespace tellaran
