#include "platform/modemlinesocket.h"

#include "platform/logging.h"

#include <QFile>
#include <QHostAddress>
#include <QLocalSocket>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <unistd.h>

namespace tellaran {

namespace {

// Unread bytes a line connection holds; beyond this the socket stops reading and the other
// end has to wait, so nothing is lost while the modem is not taking line data.
constexpr qint64 lineReadBuffer = 256 * 1024;
// How long a hung-up connection may take to send what was written before it is cut.
constexpr int hangUpFlushMs = 3000;

} // namespace

ModemLineConnection* ModemLineConnection::create(const ModemLineAddress& address,
                                                 const QString& exchangeDir, QObject* parent)
{
    return new ModemLineConnection(address, exchangeDir, parent);
}

ModemLineConnection::ModemLineConnection(const ModemLineAddress& address,
                                         const QString& exchangeDir, QObject* parent)
    : QObject(parent), m_address(address), m_exchangeDir(exchangeDir)
{
    if (address.isTcp())
        m_tcp = new QTcpSocket(this);
    else
        m_local = new QLocalSocket(this);
    wire();
}

ModemLineConnection::ModemLineConnection(QTcpSocket* socket, QObject* parent)
    : QObject(parent), m_tcp(socket), m_wasConnected(true)
{
    socket->setParent(this);
    wire();
}

ModemLineConnection::ModemLineConnection(QLocalSocket* socket, QObject* parent)
    : QObject(parent), m_local(socket), m_wasConnected(true)
{
    socket->setParent(this);
    wire();
}

ModemLineConnection::~ModemLineConnection()
{
    m_silenced = true;
}

void ModemLineConnection::wire()
{
    QIODevice* io = device();
    io->setObjectName(QStringLiteral("modemLine"));
    connect(io, &QIODevice::readyRead, this, [this] {
        if (!m_silenced)
            Q_EMIT readyRead();
    });
    connect(io, &QIODevice::bytesWritten, this, [this] {
        if (!m_silenced)
            Q_EMIT bytesWritten();
    });
    if (m_tcp) {
        m_tcp->setReadBufferSize(lineReadBuffer);
        connect(m_tcp, &QTcpSocket::connected, this, &ModemLineConnection::onConnected);
        connect(m_tcp, &QTcpSocket::disconnected, this, &ModemLineConnection::onDisconnected);
        connect(m_tcp, &QTcpSocket::errorOccurred, this, [this] { onError(m_tcp->errorString()); });
    } else {
        m_local->setReadBufferSize(lineReadBuffer);
        connect(m_local, &QLocalSocket::connected, this, &ModemLineConnection::onConnected);
        connect(m_local, &QLocalSocket::disconnected, this, &ModemLineConnection::onDisconnected);
        connect(m_local, &QLocalSocket::errorOccurred, this,
                [this] { onError(m_local->errorString()); });
    }
}

void ModemLineConnection::start()
{
    if (m_tcp) {
        m_tcp->connectToHost(m_address.host, m_address.port);
    } else {
        m_local->connectToServer(exchangeSocketPath(m_exchangeDir, m_address.name));
    }
}

QIODevice* ModemLineConnection::device() const
{
    if (m_tcp)
        return m_tcp;
    return m_local;
}

qint64 ModemLineConnection::bytesToWrite() const
{
    return device()->bytesToWrite();
}

bool ModemLineConnection::isConnectedState() const
{
    if (m_tcp)
        return m_tcp->state() == QAbstractSocket::ConnectedState;
    return m_local->state() == QLocalSocket::ConnectedState;
}

void ModemLineConnection::onConnected()
{
    m_wasConnected = true;
    if (!m_silenced)
        Q_EMIT connected();
}

void ModemLineConnection::onError(const QString& reason)
{
    if (m_ended)
        return;
    if (!m_wasConnected) {
        m_ended = true;
        // Reported from the event loop: the failure may come from inside start().
        QMetaObject::invokeMethod(
            this,
            [this, reason] {
                if (!m_silenced)
                    Q_EMIT unreachable(reason);
            },
            Qt::QueuedConnection);
        return;
    }
    // A connection that breaks normally also reports disconnected; make sure it does once.
    if (!isConnectedState())
        onDisconnected();
}

void ModemLineConnection::onDisconnected()
{
    if (m_ended)
        return;
    m_ended = true;
    if (!m_silenced)
        Q_EMIT disconnected();
}

void ModemLineConnection::hangUp()
{
    if (m_silenced)
        return;
    m_silenced = true;
    if (!isConnectedState() || bytesToWrite() == 0) {
        abort();
        return;
    }
    if (m_tcp) {
        connect(m_tcp, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        m_tcp->disconnectFromHost();
    } else {
        connect(m_local, &QLocalSocket::disconnected, this, &QObject::deleteLater);
        m_local->disconnectFromServer();
    }
    QTimer::singleShot(hangUpFlushMs, this, &ModemLineConnection::abort);
}

void ModemLineConnection::abort()
{
    m_silenced = true;
    if (m_tcp)
        m_tcp->abort();
    else
        m_local->abort();
    deleteLater();
}

ModemLineListener::ModemLineListener(QObject* parent) : QObject(parent)
{
    connect(&m_listening, &ListeningSocket::accepted, this, &ModemLineListener::takeConnection);
    connect(&m_listening, &ListeningSocket::acceptPaused, this, [](const QString& error) {
        qCWarning(lcVmodem) << "The virtual modem cannot take calls for now, trying again:"
                            << error;
    });
}

ModemLineListener::~ModemLineListener()
{
    close();
}

bool ModemLineListener::listen(const ModemLineAddress& address, const QString& exchangeDir,
                               QString* why)
{
    close();
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (address.isTcp()) {
        QHostAddress host;
        if (address.host == QLatin1String("localhost"))
            host = QHostAddress(QHostAddress::LocalHost);
        else if (address.host == QLatin1String("*"))
            host = QHostAddress(QHostAddress::Any);
        else if (!host.setAddress(address.host))
            return fail(QStringLiteral("line %1: %2 is not an address of this computer")
                            .arg(address.toString(), address.host));
        QString error;
        if (!m_listening.listenTcp(host, address.port, &error)) {
            return fail(m_listening.lastErrorNumber() == EADDRINUSE
                            ? QStringLiteral("line %1 is already held by another "
                                             "modem or program")
                                  .arg(address.toString())
                            : QStringLiteral("line %1: %2").arg(address.toString(), error));
        }
        m_isTcp = true;
        return true;
    }
    if (!address.isExchange())
        return fail(QStringLiteral("%1 is not a line name").arg(address.toString()));
    QString dirProblem;
    if (!prepareExchangeDir(exchangeDir, &dirProblem))
        return fail(QStringLiteral("line %1: %2").arg(address.name, dirProblem));
    const QString path = exchangeSocketPath(exchangeDir, address.name);
    switch (probeSocketFile(path)) {
    case SocketFileState::Live:
        return fail(QStringLiteral("line %1 is already held by another modem").arg(address.name));
    case SocketFileState::NotASocket:
        return fail(
            QStringLiteral("line %1: %2 is in the way and is not a line").arg(address.name, path));
    case SocketFileState::Stale:
        QFile::remove(path);
        break;
    case SocketFileState::Missing:
        break;
    }
    QString error;
    if (!m_listening.listenLocal(path, &error))
        return fail(QStringLiteral("line %1: %2").arg(address.name, error));
    m_isTcp = false;
    return true;
}

void ModemLineListener::close()
{
    // Closing the local socket removes its file: the line is free at once.
    m_listening.close();
}

bool ModemLineListener::isListening() const
{
    return m_listening.isListening();
}

void ModemLineListener::takeConnection(qintptr descriptor)
{
    if (m_isTcp) {
        auto* socket = new QTcpSocket;
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(int(descriptor));
            delete socket;
            return;
        }
        Q_EMIT incoming(new ModemLineConnection(socket, this));
        return;
    }
    auto* socket = new QLocalSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    Q_EMIT incoming(new ModemLineConnection(socket, this));
}

} // namespace tellaran
