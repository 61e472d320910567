#include "platform/modemline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tellaran {

namespace {

bool isDialModifier(QChar c)
{
    return c == u'T' || c == u't' || c == u'P' || c == u'p';
}

// "host:port" with a port from 1 to 65535; an IPv6 host may stand in brackets.
ModemLineAddress parseHostPort(const QString& text)
{
    ModemLineAddress address;
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return address;
    QString host = text.left(colon);
    const QString portText = text.mid(colon + 1);
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    const bool digitsOnly =
        !portText.isEmpty() && std::all_of(portText.begin(), portText.end(),
                                           [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!ok || !digitsOnly || port == 0 || port > 65535)
        return address;
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty())
        return address;
    address.kind = ModemLineAddress::Kind::Tcp;
    address.host = host;
    address.port = static_cast<quint16>(port);
    return address;
}

ModemLineAddress exchangeAddress(const QString& name)
{
    ModemLineAddress address;
    if (isValidExchangeName(name)) {
        address.kind = ModemLineAddress::Kind::Exchange;
        address.name = name;
    }
    return address;
}

} // namespace

QString ModemLineAddress::toString() const
{
    switch (kind) {
    case Kind::Tcp:
        return host.contains(u':') ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                   : QStringLiteral("%1:%2").arg(host).arg(port);
    case Kind::Exchange:
        return name;
    case Kind::Invalid:
        break;
    }
    return QString();
}

ModemLineAddress parseModemLine(const QString& line)
{
    const QString text = line.trimmed();
    if (text.contains(u':'))
        return parseHostPort(text);
    return exchangeAddress(text);
}

ModemLineAddress parseDialString(const QByteArray& dialString)
{
    QString text = QString::fromLatin1(dialString).trimmed();
    // T (tone) or P (pulse) in front is a dial modifier when a blank, a digit or an IPv6
    // bracket follows; "Tom" stays a name.
    if (text.size() > 1 && isDialModifier(text[0]) &&
        (text[1] == u' ' || text[1].isDigit() || text[1] == u'['))
        text.remove(0, 1);
    text.remove(u' ');
    // A trailing ';' asks to stay in command state after dialing; a call here always
    // connects, so it is only taken away.
    if (text.endsWith(u';'))
        text.chop(1);
    if (text.contains(u':'))
        return parseHostPort(text);
    for (const QChar punctuation : {u'-', u'(', u')', u','})
        text.remove(punctuation);
    return exchangeAddress(text);
}

ModemTestLine parseTestLine(const QByteArray& dialString)
{
    const QByteArray text = dialString.trimmed().toUpper();
    constexpr QByteArrayView prefix = "TEST-";
    if (!text.startsWith(prefix))
        return ModemTestLine::None;
    const QByteArray name = text.mid(prefix.size());
    const struct
    {
        const char* name;
        ModemTestLine line;
    } lines[] = {
        {"BUSY", ModemTestLine::Busy},
        {"NOANSWER", ModemTestLine::NoAnswer},
        {"NOCARRIER", ModemTestLine::NoCarrier},
        {"NODIALTONE", ModemTestLine::NoDialTone},
        {"ERROR", ModemTestLine::Error},
        {"DELAYED", ModemTestLine::Delayed},
        {"BLACKLISTED", ModemTestLine::Blacklisted},
        {"VOICE", ModemTestLine::Voice},
        {"SILENT", ModemTestLine::Silent},
        {"RINGING", ModemTestLine::Ringing},
    };
    for (const auto& line : lines) {
        if (name == line.name)
            return line.line;
    }
    return ModemTestLine::None;
}

namespace ModemHandshake {

QByteArray callerIdField(QByteArrayView text, qsizetype cap)
{
    QByteArray field;
    for (const char c : text) {
        if (field.size() >= cap)
            break;
        if (c >= ' ' && c <= '~')
            field += c;
    }
    return field;
}

QByteArray callerLine(const QByteArray& number, const QByteArray& name)
{
    return callerPrefix +
           callerIdField(QByteArray(number).replace(' ', ""), maxCallerNumberLength) + ' ' +
           callerIdField(name, maxCallerNameLength) + '\n';
}

bool parseCallerLine(QByteArrayView line, QByteArray* number, QByteArray* name)
{
    if (!line.startsWith(callerPrefix) || !line.endsWith('\n'))
        return false;
    line = line.sliced(callerPrefix.size()).chopped(1);
    const qsizetype blank = line.indexOf(' ');
    const QByteArrayView numberPart = blank < 0 ? line : line.first(blank);
    const QByteArrayView namePart = blank < 0 ? QByteArrayView() : line.sliced(blank + 1);
    *number = callerIdField(numberPart, maxCallerNumberLength);
    *name = callerIdField(namePart, maxCallerNameLength);
    return true;
}

} // namespace ModemHandshake

bool isValidExchangeName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64 || name.startsWith(u'.'))
        return false;
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'_' || c == u'+' || c == u'#' || c == u'*' || c == u'.' || c == u'-';
    });
}

QString exchangeSocketPath(const QString& exchangeDir, const QString& name)
{
    return QDir(exchangeDir).absoluteFilePath(name);
}

bool prepareExchangeDir(const QString& exchangeDir, QString* why)
{
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (exchangeDir.isEmpty())
        return fail(QStringLiteral("no exchange folder is set"));
    const QString path = QDir(exchangeDir).absolutePath();
    const QByteArray native = QFile::encodeName(path);
    struct stat info
    {};
    if (::stat(native.constData(), &info) != 0) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return fail(QStringLiteral("cannot create the exchange folder %1: %2")
                            .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        if (::stat(native.constData(), &info) != 0)
            return fail(QStringLiteral("cannot use the exchange folder %1").arg(path));
    }
    if (!S_ISDIR(info.st_mode))
        return fail(QStringLiteral("the exchange %1 is not a folder").arg(path));
    if (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return fail(QStringLiteral("the exchange folder %1 belongs to someone else or others "
                                   "may write to it")
                        .arg(path));
    if (::access(native.constData(), W_OK | X_OK) != 0)
        return fail(QStringLiteral("the exchange folder %1 is not writable").arg(path));
    return true;
}

SocketFileState probeSocketFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info
    {};
    if (::lstat(native.constData(), &info) != 0)
        return SocketFileState::Missing;
    if (!S_ISSOCK(info.st_mode))
        return SocketFileState::NotASocket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.size() >= static_cast<qsizetype>(sizeof(address.sun_path)))
        return SocketFileState::Live; // cannot tell; never remove what may be in use
    std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return SocketFileState::Live;
    // A Unix-domain connect completes or fails at once: refused means nobody listens.
    const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(fd);
    if (result == 0)
        return SocketFileState::Live;
    if (error == ECONNREFUSED)
        return SocketFileState::Stale;
    if (error == ENOENT)
        return SocketFileState::Missing;
    return SocketFileState::Live;
}

} // namespace tellaran
