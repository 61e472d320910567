#include "platform/socket.h"

#include <QNetworkInterface>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

namespace tellaran {

namespace {

// How long a closed connection may keep trying to hand its last queued bytes to the peer.
constexpr int kLingerMs = 10000;

// Error numbers as the control's callers know them (the usual Windows Sockets codes).
int errorNumber(int error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::NetworkError:
        return 10050;
    default:
        return 10053;
    }
}

} // namespace

QHostAddress withoutIPv4Mapping(const QHostAddress& address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4) : address;
}

Socket::Socket(QObject* parent) : QObject(parent) {}

Socket::~Socket()
{
    detach();
}

int Socket::State() const
{
    return state_;
}

void Socket::Connect(const QString& host, quint16 port)
{
    if (state_ != Closed)
        return;
    auto* tcp = new QTcpSocket(this);
    attach(tcp);
    state_ = Connecting;
    insideConnect_ = true;
    tcp->connectToHost(host, port);
    insideConnect_ = false;
}

void Socket::SendData(const QByteArray& data)
{
    if (state_ != Connected || !tcp_ || data.isEmpty())
        return;
    tcp_->write(data);
}

QByteArray Socket::GetData()
{
    pullArrived();
    return std::exchange(inbox_, QByteArray());
}

qint64 Socket::BytesReceived() const
{
    return inbox_.size() + (tcp_ ? tcp_->bytesAvailable() : 0);
}

void Socket::Close()
{
    detach();
    state_ = Closed;
}

void Socket::Abort()
{
    detach(false);
    state_ = Closed;
}

void Socket::setReceivePaused(bool paused)
{
    if (paused == receivePaused_)
        return;
    receivePaused_ = paused;
    if (tcp_)
        tcp_->setReadBufferSize(paused ? PausedReadBuffer : ReadBuffer);
    if (paused)
        return;
    // What came while paused raised no event; look once the caller has finished.
    const quint64 generation = generation_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != generation_ || receivePaused_)
            return;
        const QPointer<Socket> self(this);
        if (!inbox_.isEmpty() && !(tcp_ && tcp_->bytesAvailable() > 0)) {
            Q_EMIT DataArrivalEvent(inbox_.size());
            if (!self || generation != generation_)
                return;
        }
        onReadyRead();
        if (!self || generation != generation_)
            return;
        if (tcp_ && tcp_->state() != QAbstractSocket::ConnectedState)
            onPeerClosed();
    });
}

QString Socket::LocalIP()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const QNetworkInterface::InterfaceFlags flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
                return ip.toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

QHostAddress Socket::PeerAddress() const
{
    return tcp_ ? withoutIPv4Mapping(tcp_->peerAddress()) : QHostAddress();
}

quint16 Socket::PeerPort() const
{
    return tcp_ ? tcp_->peerPort() : 0;
}

QHostAddress Socket::LocalAddress() const
{
    return tcp_ ? withoutIPv4Mapping(tcp_->localAddress()) : QHostAddress();
}

quint16 Socket::LocalPort() const
{
    return tcp_ ? tcp_->localPort() : 0;
}

qint64 Socket::BytesToWrite() const
{
    return tcp_ ? tcp_->bytesToWrite() : 0;
}

void Socket::adoptAccepted(QTcpSocket* accepted)
{
    detach();
    state_ = Closed;
    if (!accepted)
        return;
    attach(accepted);
    state_ = Connected;
    // Bytes or the peer's close may have come while the connection waited to be accepted,
    // when nobody was listening to its signals. Look once the caller has finished.
    const quint64 generation = generation_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != generation_)
            return;
        const QPointer<Socket> self(this);
        onReadyRead();
        if (!self || generation != generation_)
            return;
        if (tcp_ && tcp_->state() != QAbstractSocket::ConnectedState)
            onPeerClosed();
    });
}

void Socket::attach(QTcpSocket* socket)
{
    ++generation_;
    inbox_.clear();
    peerCloseSeen_ = false;
    tcp_ = socket;
    socket->setParent(this);
    socket->setReadBufferSize(receivePaused_ ? PausedReadBuffer : ReadBuffer);
    connect(socket, &QAbstractSocket::connected, this, &Socket::onConnected);
    connect(socket, &QIODevice::readyRead, this, &Socket::onReadyRead);
    connect(socket, &QAbstractSocket::disconnected, this, &Socket::onPeerClosed);
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { onSocketError(error); });
}

void Socket::detach(bool handOnQueued)
{
    ++generation_;
    inbox_.clear();
    peerCloseSeen_ = false;
    QTcpSocket* old = std::exchange(tcp_, nullptr);
    if (!old)
        return;
    QObject::disconnect(old, nullptr, this, nullptr);
    // We may be inside one of old's own signals (a handler closed or deleted us), so it must
    // outlive this call: it leaves our ownership and goes by deleteLater.
    old->setParent(nullptr);
    // Only bytes still queued are worth waiting for; a socket with none goes at once, so a
    // run of closes never leaves thousands of closed sockets (and their buffers) behind.
    if (handOnQueued && old->state() == QAbstractSocket::ConnectedState &&
        old->bytesToWrite() > 0) {
        // Hand what is still queued to the system, which delivers it after the close.
        old->flush();
        connect(old, &QAbstractSocket::disconnected, old, &QObject::deleteLater);
        QTimer::singleShot(kLingerMs, old, [old] {
            old->abort();
            old->deleteLater();
        });
        old->disconnectFromHost();
    } else {
        // With nothing queued a close hands the system nothing more than abort() does.
        old->abort();
        old->deleteLater();
    }
}

void Socket::onConnected()
{
    if (state_ != Connecting)
        return;
    state_ = Connected;
    Q_EMIT ConnectEvent();
}

void Socket::onReadyRead()
{
    const QPointer<Socket> self(this);
    // A handler running a nested event loop gets no second readyRead for bytes that come
    // meanwhile, so keep going until the socket has nothing left.
    while (!receivePaused_ && state_ == Connected && tcp_ && tcp_->bytesAvailable() > 0) {
        const quint64 generation = generation_;
        inbox_ += tcp_->readAll();
        Q_EMIT DataArrivalEvent(inbox_.size());
        if (!self || generation != generation_)
            return;
    }
}

void Socket::onPeerClosed()
{
    // While paused the close waits, with the bytes before it, until receiving resumes.
    if (state_ != Connected || peerCloseSeen_ || receivePaused_)
        return;
    peerCloseSeen_ = true;
    const QPointer<Socket> self(this);
    const quint64 generation = generation_;
    // Bytes that came together with the close are reported before it.
    if (tcp_ && tcp_->bytesAvailable() > 0) {
        inbox_ += tcp_->readAll();
        Q_EMIT DataArrivalEvent(inbox_.size());
        if (!self || generation != generation_)
            return;
    }
    state_ = Closing;
    Q_EMIT CloseEvent();
}

void Socket::onSocketError(int error)
{
    if (error == QAbstractSocket::RemoteHostClosedError && state_ == Connected) {
        onPeerClosed();
        return;
    }
    if (state_ != Connecting && state_ != Connected)
        return;
    state_ = Error;
    raiseError(errorNumber(error), tcp_ ? tcp_->errorString() : QString());
}

void Socket::raiseError(int number, const QString& description)
{
    if (!insideConnect_) {
        Q_EMIT ErrorEvent(number, description);
        return;
    }
    // Connect promises to return before any event.
    const quint64 generation = generation_;
    QTimer::singleShot(0, this, [this, generation, number, description] {
        if (generation == generation_)
            Q_EMIT ErrorEvent(number, description);
    });
}

void Socket::pullArrived()
{
    if (tcp_ && tcp_->bytesAvailable() > 0)
        inbox_ += tcp_->readAll();
}

} // namespace tellaran
