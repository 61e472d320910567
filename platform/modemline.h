#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

namespace tellaran {

// Where a phone line of the virtual modem is: a TCP address, or a name in the exchange
// folder (a Unix-domain socket file of that name).
struct ModemLineAddress
{
    enum class Kind
    {
        Invalid,
        Tcp,
        Exchange,
    };
    Kind kind = Kind::Invalid;
    QString host; // Tcp
    quint16 port = 0;
    QString name; // Exchange

    bool isTcp() const { return kind == Kind::Tcp; }
    bool isExchange() const { return kind == Kind::Exchange; }
    QString toString() const;
};

// The line a modem answers on: "host:port" is TCP, anything else an exchange name.
ModemLineAddress parseModemLine(const QString& line);
// Where ATD<dialString> calls: "host:port" is TCP; anything else is an exchange name. A
// leading T or P before a blank, a digit or '[' is a dial modifier; blanks and a trailing ';'
// go, and in names also dashes, brackets and commas.
ModemLineAddress parseDialString(const QByteArray& dialString);

// Lines that answer a call attempt in a set way, with no modem at the other end, so that a
// test can dial a failure: the dial string "TEST-" and the line's name, in any case.
enum class ModemTestLine
{
    None, // not a test line
    Busy,
    NoAnswer,
    NoCarrier,
    NoDialTone, // answers the one-word "NO DIALTONE"
    Error,
    Delayed,
    Blacklisted,
    Voice,
    Silent,  // answers nothing at all, however long
    Ringing, // "RINGING" at once and on every ring, NO ANSWER after S7 seconds
};
ModemTestLine parseTestLine(const QByteArray& dialString);

// A name that stays inside the exchange folder: letters, digits and "_+#*.-", not starting
// with a dot, at most 64 characters.
bool isValidExchangeName(const QString& name);
QString exchangeSocketPath(const QString& exchangeDir, const QString& name);

// Makes sure the exchange folder can be used: creates it with mode 0700 when missing, and
// refuses a folder that is not ours or that others may write to (they could plant lines).
bool prepareExchangeDir(const QString& exchangeDir, QString* why);

enum class SocketFileState
{
    Missing,
    Live,       // a program listens on it
    Stale,      // a socket nobody listens on, left by a program that ended abruptly
    NotASocket, // some other file: never removed
};
SocketFileState probeSocketFile(const QString& path);

// The call set-up on a fresh line connection, before any user byte: the caller says who it
// is, the callee answers (after ringing) or says it is busy and closes. After the answer
// the connection carries nothing but user bytes.
namespace ModemHandshake {
inline const QByteArray call = QByteArrayLiteral("TELLARAN-LINE/1 CALL\n");
inline const QByteArray answer = QByteArrayLiteral("TELLARAN-LINE/1 ANSWER\n");
inline const QByteArray busy = QByteArrayLiteral("TELLARAN-LINE/1 BUSY\n");
// Longest token line; a longer line is no handshake.
inline constexpr qint64 maxTokenLength = 64;

// Right after CALL the caller says who it is, for the callee's caller ID:
// "TELLARAN-LINE/1 CALLER <its line> <its name>" and a line feed.
inline const QByteArray callerPrefix = QByteArrayLiteral("TELLARAN-LINE/1 CALLER ");
// Caller-ID names have at most 15 characters; numbers here are line names or addresses.
inline constexpr qsizetype maxCallerNameLength = 15;
inline constexpr qsizetype maxCallerNumberLength = 64;
inline constexpr qint64 maxCallerLineLength = 128;
QByteArray callerLine(const QByteArray& number, const QByteArray& name);
// Reads a caller line; false for anything else. What it holds comes from the other end: both
// fields are cut to printable characters within their lengths.
bool parseCallerLine(QByteArrayView line, QByteArray* number, QByteArray* name);
// `text` with everything but printable ASCII left out, at most `cap` characters: a caller-ID
// field can never carry a line end, so never pass for a result.
QByteArray callerIdField(QByteArrayView text, qsizetype cap);
} // namespace ModemHandshake

} // namespace tellaran
