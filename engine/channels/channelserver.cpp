#include "engine/channels/channelserver.h"

#include "engine/channels/channeltable.h"
#include "engine/engine.h"
#include "platform/socket.h"

#include <QNetworkInterface>
#include <QTimer>

namespace tellaran {

ChannelServer::ChannelServer(Engine& engine, ChannelTable& table, FrameHandler dispatchFrame,
                             QObject* parent)
    : QObject(parent), engine_(engine), table_(table), dispatchFrame_(std::move(dispatchFrame)),
      peerCheck_(&ChannelServer::isThisComputer)
{
    connect(&listener_, &SocketArray::ConnectionRequestEvent, this,
            &ChannelServer::Listener_ConnectionRequest);
    connect(&listener_, &SocketArray::DataArrivalEvent, this, &ChannelServer::Listener_DataArrival);
    connect(&listener_, &SocketArray::CloseEvent, this, &ChannelServer::Listener_Close);
}

ChannelServer::~ChannelServer() = default;

bool ChannelServer::start()
{
    listener_.setLocalPort(engine_.channelPort());
    QString error;
    if (listener_.Listen(&error))
        return true;
    const QString text =
        QStringLiteral("The channel server cannot accept local programs: port %1 could not be "
                       "opened (%2).\nIs another copy of the program running?")
            .arg(engine_.channelPort())
            .arg(error);
    // Not inside the window's load: the box runs an event loop of its own.
    Engine* engine = &engine_;
    QTimer::singleShot(0, this, [engine, text] {
        engine->messageBoxes().show(text, QString(), BoxIcon::Critical, BoxButtons::Ok);
    });
    return false;
}

void ChannelServer::shutDown()
{
    splitters_.clear();
    for (int index = 0; index <= listener_.UBound(); ++index)
        listener_.Close(index);
}

bool ChannelServer::isThisComputer(const QHostAddress& peer)
{
    bool isIpv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIpv4);
    const QHostAddress address = isIpv4 ? QHostAddress(ipv4) : peer;
    if (address.isLoopback())
        return true;
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    for (const QHostAddress& candidate : own) {
        if (candidate.isEqual(address, QHostAddress::TolerantConversion))
            return true;
    }
    return false;
}

bool ChannelServer::isConnected(int index) const
{
    return listener_.State(index) == Socket::Connected;
}

void ChannelServer::SendData(int index, const QByteArray& data)
{
    listener_.SendData(index, data);
}

void ChannelServer::setBufferCap(qsizetype cap)
{
    bufferCap_ = cap;
    for (auto& [index, splitter] : splitters_)
        splitter->setCap(cap);
}

const FrameSplitter* ChannelServer::splitter(int index) const
{
    const auto found = splitters_.find(index);
    return found == splitters_.end() ? nullptr : found->second.get();
}

void ChannelServer::Listener_ConnectionRequest(int, qintptr requestId)
{
    const QHostAddress peer = listener_.RequestPeerAddress(requestId);
    const int next = listener_.UBound() + 1;
    if (!peerCheck_(peer) || next > connectionLimit_ || !listener_.Load(next) ||
        !listener_.Accept(next, requestId)) {
        listener_.Reject(requestId);
        Q_EMIT connectionRefused(peer);
        return;
    }
    const int index = next;
    splitters_[index] = std::make_unique<FrameSplitter>(
        [this](QByteArray frame) { dispatchFrame_(frame); }, bufferCap_);
}

void ChannelServer::Listener_DataArrival(int index, qint64)
{
    const QByteArray data = listener_.GetData(index);
    if (data.isEmpty())
        return;
    if (frames::isRegistration(data)) {
        table_.Register(index, frames::registrationDataId(data));
        const QByteArray rest = frames::afterRegistration(data);
        if (!rest.isEmpty())
            splitFrames(index, rest);
        return;
    }
    splitFrames(index, data);
}

void ChannelServer::splitFrames(int index, const QByteArray& chunk)
{
    // Looked up afresh: the connection may have closed in the meantime.
    const auto found = splitters_.find(index);
    if (found != splitters_.end())
        found->second->SplitFrames(chunk);
}

void ChannelServer::Listener_Close(int index)
{
    table_.Remove(index);
    splitters_.erase(index);
    listener_.Close(index);
}

} // namespace tellaran
