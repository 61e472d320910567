#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QFile;

// The troubleshooting log: the dialogue with the modem, the local connections, the frames on
// the link and the virtual modem's calls (the tellaran.* logging categories). It is off
// unless switched on, by QT_LOGGING_RULES or by the engine's --log option.
namespace tellaran::troubleshooting {

// Every message with the date and time of day to the millisecond, its category and level.
// QT_MESSAGE_PATTERN, when set, still wins.
void useTimedMessages();

// Switches every tellaran.* category on, at every level. QT_LOGGING_RULES still wins for
// what it names.
void switchOn();

// Shows bytes from outside on one log line: printable ASCII as it is, anything else
// (line ends included) as \r, \n or \xNN.
QString printable(QByteArrayView bytes);

// Sends every message of the process to a file, appended, one line each, written at once
// so that a crash keeps what came before it. Only one log is active at a time; the
// messages go back to the standard error stream when it closes.
class LogFile
{
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Returns false, with the reason in *error, when the file cannot be opened.
    bool open(const QString& path, QString* error);
    void close();
    bool isOpen() const;

private:
    QFile* file_ = nullptr;
};

} // namespace tellaran::troubleshooting
