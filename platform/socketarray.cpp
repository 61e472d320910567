#include "platform/socketarray.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace tellaran {

SocketArray::SocketArray(QObject* parent) : QObject(parent), server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &SocketArray::onNewConnection);
}

SocketArray::~SocketArray()
{
    for (const auto& [requestId, tcp] : pending_)
        tcp->abort();
    pending_.clear();
    elements_.clear();
    // We may be deleted from a connection-request handler, inside the server's own signal:
    // free the port now, the object later.
    server_->close();
    server_->setParent(nullptr);
    server_->deleteLater();
}

void SocketArray::setLocalPort(quint16 port)
{
    localPort_ = port;
}

quint16 SocketArray::LocalPort() const
{
    return server_->isListening() ? server_->serverPort() : localPort_;
}

bool SocketArray::Listen(QString* error)
{
    if (server_->isListening())
        return true;
    if (server_->listen(QHostAddress::Any, localPort_))
        return true;
    if (error)
        *error = server_->errorString();
    return false;
}

int SocketArray::UBound() const
{
    return ubound_;
}

bool SocketArray::Load(int index)
{
    if (index <= ubound_)
        return false;
    auto element = std::make_unique<Socket>();
    connect(element.get(), &Socket::DataArrivalEvent, this,
            [this, index](qint64 bytesTotal) { Q_EMIT DataArrivalEvent(index, bytesTotal); });
    connect(element.get(), &Socket::CloseEvent, this, [this, index] { Q_EMIT CloseEvent(index); });
    elements_.emplace(index, std::move(element));
    ubound_ = index;
    return true;
}

bool SocketArray::Accept(int index, qintptr requestId)
{
    const auto request = pending_.find(requestId);
    if (request == pending_.end())
        return false;
    Socket* socket = element(index);
    if (!socket || used_.count(index) != 0 || socket->State() != Socket::Closed)
        return false;
    QTcpSocket* tcp = request->second;
    pending_.erase(request);
    used_.insert(index);
    socket->adoptAccepted(tcp);
    return true;
}

void SocketArray::Reject(qintptr requestId)
{
    const auto request = pending_.find(requestId);
    if (request == pending_.end())
        return;
    QTcpSocket* tcp = request->second;
    pending_.erase(request);
    tcp->abort();
    tcp->deleteLater();
}

QHostAddress SocketArray::RequestPeerAddress(qintptr requestId) const
{
    const auto request = pending_.find(requestId);
    if (request == pending_.end())
        return QHostAddress();
    return withoutIPv4Mapping(request->second->peerAddress());
}

Socket* SocketArray::element(int index) const
{
    const auto found = elements_.find(index);
    return found == elements_.end() ? nullptr : found->second.get();
}

int SocketArray::State(int index) const
{
    if (index == 0)
        return server_->isListening() ? Socket::Listening : Socket::Closed;
    const Socket* socket = element(index);
    return socket ? socket->State() : Socket::Closed;
}

void SocketArray::SendData(int index, const QByteArray& data)
{
    if (Socket* socket = element(index))
        socket->SendData(data);
}

QByteArray SocketArray::GetData(int index)
{
    Socket* socket = element(index);
    return socket ? socket->GetData() : QByteArray();
}

void SocketArray::Close(int index)
{
    if (index == 0) {
        server_->close();
        return;
    }
    if (Socket* socket = element(index))
        socket->Close();
}

void SocketArray::onNewConnection()
{
    const QPointer<SocketArray> self(this);
    while (server_->hasPendingConnections()) {
        QTcpSocket* tcp = server_->nextPendingConnection();
        if (!tcp)
            break;
        const qintptr requestId = nextRequestId_++;
        pending_.emplace(requestId, tcp);
        Q_EMIT ConnectionRequestEvent(0, requestId);
        if (!self)
            return;
        // A request the handler neither accepted nor rejected would hold its connection
        // open for good.
        Reject(requestId);
    }
}

} // namespace tellaran
