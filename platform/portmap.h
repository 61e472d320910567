#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>

// Which device a serial port number means. The optional port map file holds one record a
// line, a port number and a target: `3,"/dev/ttyACM0"` or `2,"modem:7"`. A number with no
// record means /dev/ttyS<number - 1>.
//
// A virtual modem's target may carry options after blanks, to make it behave as some real
// modems do: `reply-delay=<ms>` (replies that come late), `reject=<command>,...` (commands
// it answers with ERROR, "AT" optional) and `ignore-dtr` (&D0 at power-up), as in
// `2,"modem:7 reply-delay=300 reject=AT%C3,ATL"`.
namespace tellaran::portmap {

// What a port number stands for.
struct PortTarget
{
    enum Kind
    {
        NoDevice,     // a port number below 1: nothing to open
        Device,       // a serial device file
        VirtualModem, // the built-in modem
    };
    Kind kind = NoDevice;
    // Device: the device file.
    QString device;
    // VirtualModem: where the modem answers calls ("host:port" or a name in the exchange).
    QString line;
    // VirtualModem: bit/s from an "@<rate>" suffix; 0 unpaced, -1 when none was given.
    int lineRate = -1;
    // VirtualModem: the options.
    int replyDelayMs = 0;
    QByteArrayList rejectedCommands;
    bool ignoreDtr = false;

    // The target as the port map writes it: "/dev/ttyS0", "modem:7", "modem:7@0",
    // "modem:7 ignore-dtr".
    QString text() const;
    bool operator==(const PortTarget&) const = default;
};

struct PortMapRecord
{
    int port = 0;
    PortTarget target;
};

// A whole decimal number of 0 or more, digits only (no sign, no blanks), as the map writes
// port numbers, lines and rates.
bool parseDigits(const QString& text, int* value);

// The records of a port map file's content, in file order. Records that are not a port
// number of 1 or more followed by a usable target are skipped, so a damaged file still
// yields its good records.
QList<PortMapRecord> readPortMap(const QByteArray& content);

// A target as written in the map. Returns false for an empty target, a "modem:" without a
// line, a rate suffix that is not a whole number, or an option it does not know.
bool parseTarget(const QString& text, PortTarget* target);

// The target of a port with no record: /dev/ttyS<port - 1>, or NoDevice below port 1.
PortTarget defaultTarget(int port);

// The target of a port: its first record in the map, else the default.
PortTarget resolvePort(const QList<PortMapRecord>& records, int port);

// Reads the map file (a missing or unreadable file maps nothing) and resolves the port.
PortTarget resolvePortFromFile(const QString& mapFile, int port);

} // namespace tellaran::portmap
