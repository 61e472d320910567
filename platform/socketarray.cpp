#include "platform/socketarray.h"

#include <QPointer>
#include <QTcpSocket>
#include <algorithm>
#include <malloc.h>
#include <unistd.h>

namespace tellaran {

SocketArray::SocketArray(QObject* parent) : QObject(parent)
{
    trimTimer_.setSingleShot(true);
    trimTimer_.setInterval(1000);
    connect(&trimTimer_, &QTimer::timeout, this, [] {
#ifdef __GLIBC__
        // Thousands of closed connections leave their memory in holes the heap cannot give
        // back by itself.
        malloc_trim(0);
#endif
    });
    connect(&listening_, &ListeningSocket::accepted, this, &SocketArray::onAccepted);
    connect(&listening_, &ListeningSocket::acceptPaused, this, &SocketArray::acceptPaused);
}

SocketArray::~SocketArray()
{
    for (const auto& [requestId, tcp] : pending_) {
        tcp->abort();
        tcp->deleteLater();
    }
    pending_.clear();
    elements_.clear();
    listening_.close();
}

void SocketArray::setLocalPort(quint16 port)
{
    localPort_ = port;
}

quint16 SocketArray::LocalPort() const
{
    return listening_.isListening() ? listening_.port() : localPort_;
}

bool SocketArray::Listen(QString* error)
{
    if (listening_.isListening())
        return true;
    return listening_.listenTcp(localPort_, error);
}

int SocketArray::UBound() const
{
    return ubound_;
}

bool SocketArray::Load(int index)
{
    if (index < 1 || isLoaded(index))
        return false;
    auto element = std::make_unique<Socket>();
    connect(element.get(), &Socket::DataArrivalEvent, this,
            [this, index](qint64 bytesTotal) { Q_EMIT DataArrivalEvent(index, bytesTotal); });
    connect(element.get(), &Socket::CloseEvent, this, [this, index] { Q_EMIT CloseEvent(index); });
    elements_.emplace(index, std::move(element));
    ubound_ = std::max(ubound_, index);
    return true;
}

void SocketArray::Unload(int index)
{
    const auto found = elements_.find(index);
    if (found == elements_.end())
        return;
    Close(index);
    Socket* socket = found->second.release();
    elements_.erase(found);
    used_.erase(index);
    ubound_ = elements_.empty() ? 0 : elements_.rbegin()->first;
    // It may be raising the event that led here.
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
    if (!trimTimer_.isActive())
        trimTimer_.start();
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
        return listening_.isListening() ? Socket::Listening : Socket::Closed;
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

void SocketArray::Close(int index, bool abort)
{
    if (index == 0) {
        listening_.close();
        return;
    }
    if (Socket* socket = element(index)) {
        const bool wasOpen = socket->State() != Socket::Closed;
        if (abort)
            socket->Abort();
        else
            socket->Close();
        // A descriptor may have come free.
        if (wasOpen)
            listening_.retryNow();
    }
}

void SocketArray::onAccepted(qintptr descriptor)
{
    auto* tcp = new QTcpSocket(this);
    if (!tcp->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        tcp->deleteLater();
        return;
    }
    const qintptr requestId = nextRequestId_++;
    pending_.emplace(requestId, tcp);
    const QPointer<SocketArray> self(this);
    Q_EMIT ConnectionRequestEvent(0, requestId);
    if (!self)
        return;
    // A request the handler neither accepted nor rejected would hold its connection open for
    // good.
    Reject(requestId);
}

} // namespace tellaran
