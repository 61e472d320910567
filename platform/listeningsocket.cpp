#include "platform/listeningsocket.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tellaran {

namespace {

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The port a TCP socket is bound to (the system's choice when asked for port 0).
quint16 boundPort(int descriptor)
{
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        return 0;
    return bound.ss_family == AF_INET6
               ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
               : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

// Binds `descriptor` to `address`:`port`; false with errno set when it cannot.
bool bindTo(int descriptor, const QHostAddress& address, quint16 port)
{
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        sockaddr_in6 socketAddress{};
        socketAddress.sin6_family = AF_INET6;
        const Q_IPV6ADDR ip = address.toIPv6Address();
        std::memcpy(&socketAddress.sin6_addr, &ip, sizeof ip);
        socketAddress.sin6_port = htons(port);
        return ::bind(descriptor, reinterpret_cast<const sockaddr*>(&socketAddress),
                      sizeof socketAddress) == 0;
    }
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address.toIPv4Address());
    socketAddress.sin_port = htons(port);
    return ::bind(descriptor, reinterpret_cast<const sockaddr*>(&socketAddress),
                  sizeof socketAddress) == 0;
}

} // namespace

ListeningSocket::ListeningSocket(QObject* parent) : QObject(parent)
{
    retry_.setSingleShot(true);
    retry_.setInterval(RetryInterval);
    connect(&retry_, &QTimer::timeout, this, &ListeningSocket::retryNow);
}

ListeningSocket::~ListeningSocket()
{
    close();
}

bool ListeningSocket::listenTcp(quint16 port, QString* error)
{
    close();
    // One dual-stack socket takes IPv4 and IPv6; a system without IPv6 gets an IPv4 one.
    int descriptor = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor >= 0) {
        const int no = 0;
        ::setsockopt(descriptor, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        const int yes = 1;
        ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(port);
        if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            if (errno != EAFNOSUPPORT && errno != EADDRNOTAVAIL) {
                lastErrorNumber_ = errno;
                if (error)
                    *error = lastError();
                ::close(descriptor);
                return false;
            }
            ::close(descriptor);
            descriptor = -1;
        }
    }
    if (descriptor < 0) {
        descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (descriptor < 0) {
            if (error)
                *error = lastError();
            return false;
        }
        const int yes = 1;
        ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(port);
        if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            lastErrorNumber_ = errno;
            if (error)
                *error = lastError();
            ::close(descriptor);
            return false;
        }
    }
    if (!finishListen(descriptor, DefaultBacklog, error))
        return false;
    port_ = boundPort(descriptor_);
    return true;
}

bool ListeningSocket::listenTcp(const QHostAddress& address, quint16 port, QString* error)
{
    if (address == QHostAddress(QHostAddress::Any) ||
        address == QHostAddress(QHostAddress::AnyIPv6))
        return listenTcp(port, error);
    close();
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    const int descriptor =
        ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        lastErrorNumber_ = errno;
        if (error)
            *error = lastError();
        return false;
    }
    const int yes = 1;
    ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (!bindTo(descriptor, address, port)) {
        lastErrorNumber_ = errno;
        if (error)
            *error = lastError();
        ::close(descriptor);
        return false;
    }
    if (!finishListen(descriptor, DefaultBacklog, error))
        return false;
    port_ = boundPort(descriptor_);
    return true;
}

bool ListeningSocket::listenLocal(const QString& path, QString* error)
{
    close();
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    if (name.size() >= qsizetype(sizeof address.sun_path)) {
        if (error)
            *error = QStringLiteral("the socket's path is too long");
        return false;
    }
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        if (error)
            *error = lastError();
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        lastErrorNumber_ = errno;
        if (error)
            *error = lastError();
        ::close(descriptor);
        return false;
    }
    // This user's modems only.
    ::chmod(name.constData(), 0600);
    if (!finishListen(descriptor, DefaultBacklog, error)) {
        ::unlink(name.constData());
        return false;
    }
    localPath_ = path;
    return true;
}

bool ListeningSocket::finishListen(int descriptor, int backlog, QString* error)
{
    if (::listen(descriptor, backlog) != 0) {
        lastErrorNumber_ = errno;
        if (error)
            *error = lastError();
        ::close(descriptor);
        return false;
    }
    descriptor_ = descriptor;
    notifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ListeningSocket::acceptPending);
    return true;
}

void ListeningSocket::close()
{
    retry_.stop();
    paused_ = false;
    delete notifier_;
    notifier_ = nullptr;
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
    port_ = 0;
    if (!localPath_.isEmpty())
        ::unlink(QFile::encodeName(localPath_).constData());
    localPath_.clear();
}

void ListeningSocket::retryNow()
{
    if (!paused_ || !notifier_)
        return;
    retry_.stop();
    paused_ = false;
    notifier_->setEnabled(true);
}

void ListeningSocket::acceptPending()
{
    const QPointer<ListeningSocket> self(this);
    while (descriptor_ >= 0) {
        const int connection =
            ::accept4(descriptor_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection >= 0) {
            failureReported_ = false;
            Q_EMIT accepted(connection);
            if (!self)
                return;
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors or memory, or worse: the connection waits, and so do we.
        const QString reason = lastError();
        paused_ = true;
        notifier_->setEnabled(false);
        retry_.start();
        if (!failureReported_) {
            failureReported_ = true;
            Q_EMIT acceptPaused(reason);
        }
        return;
    }
}

} // namespace tellaran
