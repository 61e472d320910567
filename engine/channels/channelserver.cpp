#include "engine/channels/channelserver.h"

#include "engine/channels/channeltable.h"
#include "engine/engine.h"
#include "platform/logging.h"
#include "platform/socket.h"
#include "platform/troubleshootinglog.h"

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
    connect(&listener_, &SocketArray::acceptPaused, this, [](const QString& error) {
        qCWarning(lcChannels) << "Cannot accept local connections for now, trying again:" << error;
    });
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
    connections_.clear();
    resuming_.clear();
    carryOverTotal_ = 0;
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
    Socket* socket = listener_.element(index);
    if (!socket)
        return;
    if (socket->State() == Socket::Connected && connection(index) &&
        socket->BytesToWrite() + data.size() > relayCap_) {
        qCWarning(lcChannels) << "Closing local connection" << index
                              << "- its program does not read what the engine relays to it ("
                              << socket->BytesToWrite() << "bytes waiting)";
        removeConnection(index, true);
        Q_EMIT connectionDropped(index);
        return;
    }
    listener_.SendData(index, data);
}

void ChannelServer::setConnectionPaused(int index, bool paused)
{
    Connection* entry = connection(index);
    if (!entry || entry->own || entry->paused == paused)
        return;
    entry->paused = paused;
    if (paused) {
        if (entry->decided) {
            if (Socket* socket = listener_.element(index))
                socket->setReceivePaused(true);
        }
        return;
    }
    resuming_.insert(index);
    if (!handOnScheduled_) {
        // From the event loop, not from inside the drain that took the backlog below the mark.
        handOnScheduled_ = true;
        QTimer::singleShot(0, this, &ChannelServer::handOnHeldFrames);
    }
}

bool ChannelServer::isConnectionPaused(int index) const
{
    const auto found = connections_.find(index);
    return found != connections_.end() && found->second.paused;
}

// The frames held back go first; only then is the connection read again. So a connection
// whose program has closed is never closed here before its last frames have gone on.
void ChannelServer::handOnHeldFrames()
{
    handOnScheduled_ = false;
    const std::set<int> resuming = std::exchange(resuming_, {});
    for (int index : resuming) {
        const Connection* entry = connection(index);
        if (!entry || entry->paused)
            continue;
        if (entry->splitter->isHolding())
            feedSplitter(index, [](FrameSplitter& splitter) { splitter.HandOnHeldFrames(); });
        // Looked up again: handing on may have paused or closed it.
        entry = connection(index);
        if (!entry || entry->paused || !entry->decided)
            continue;
        if (Socket* socket = listener_.element(index))
            socket->setReceivePaused(false);
    }
}

void ChannelServer::setBufferCap(qsizetype cap)
{
    bufferCap_ = cap;
    for (auto& [index, entry] : connections_)
        entry.splitter->setCap(cap);
}

const FrameSplitter* ChannelServer::splitter(int index) const
{
    const auto found = connections_.find(index);
    return found == connections_.end() ? nullptr : found->second.splitter.get();
}

bool ChannelServer::isOwnConnection(int index) const
{
    const auto found = connections_.find(index);
    return found != connections_.end() && found->second.own;
}

ChannelServer::Connection* ChannelServer::connection(int index)
{
    const auto found = connections_.find(index);
    return found == connections_.end() ? nullptr : &found->second;
}

// The index after the one given last, wrapping round to 1 at the limit, skipping those in
// use: a run numbers its connections 1, 2, 3 ... as long as it can, and a closed
// connection's index comes back only when the numbers have gone round. 0 when all are in use.
int ChannelServer::nextFreeIndex() const
{
    if (connectionLimit_ < 1 || listener_.count() >= connectionLimit_)
        return 0;
    int index = lastIndex_;
    for (int tried = 0; tried < connectionLimit_; ++tried) {
        index = index >= connectionLimit_ ? 1 : index + 1;
        if (!listener_.isLoaded(index))
            return index;
    }
    return 0;
}

void ChannelServer::Listener_ConnectionRequest(int, qintptr requestId)
{
    const QHostAddress peer = listener_.RequestPeerAddress(requestId);
    const bool fromHere = peerCheck_(peer);
    const int next = fromHere ? nextFreeIndex() : 0;
    if (fromHere && next == 0) {
        qCWarning(lcChannels) << "Refusing a local program: all" << connectionLimit_
                              << "connection indexes are in use";
    }
    if (next == 0 || !listener_.Load(next) || !listener_.Accept(next, requestId)) {
        if (next != 0)
            listener_.Unload(next);
        listener_.Reject(requestId);
        Q_EMIT connectionRefused(peer);
        return;
    }
    lastIndex_ = next;
    const Socket* socket = listener_.element(next);
    OpenConnection(next, socket ? socket->PeerAddress() : peer, socket ? socket->PeerPort() : 0);
}

void ChannelServer::OpenConnection(int index, const QHostAddress& peer, quint16 peerPort)
{
    Connection entry;
    entry.splitter = std::make_unique<FrameSplitter>(
        [this, index](QByteArray frame) { handleFrame(index, std::move(frame)); }, bufferCap_);
    entry.splitter->setHoldPredicate([this, index] {
        const Connection* held = connection(index);
        return held && held->paused && !held->own;
    });
    entry.peer = peer;
    entry.peerPort = peerPort;
    entry.namedOwn = engine_.isOwnRelayConnection(peer, peerPort);
    const bool own = entry.namedOwn;
    connections_.emplace(index, std::move(entry));
    if (own)
        logOwnConnection(index);
    else
        qCDebug(lcChannels) << "Local connection" << index << "from" << peer.toString();
}

// Not a program of the user's: the modem window's own link, which brings what the other
// computer sends.
void ChannelServer::logOwnConnection(int index)
{
    qCDebug(lcChannels) << "Local connection" << index
                        << "is the engine's own: the modem window's link for the frames from "
                           "the other computer";
}

void ChannelServer::Listener_DataArrival(int index, qint64)
{
    ReceiveBlock(index, listener_.GetData(index));
}

// The engine's own connection sends only once it is connected, so by its first block its
// end of the connection is known to the modem window.
void ChannelServer::decideOwnership(int index, Connection& entry)
{
    entry.decided = true;
    entry.own = engine_.isOwnRelayConnection(entry.peer, entry.peerPort);
    if (entry.own)
        entry.paused = false;
    // Known only now when it connected before the modem window saw its own end connected.
    if (entry.own && !entry.namedOwn)
        logOwnConnection(index);
    if (!entry.own && entry.paused) {
        if (Socket* socket = listener_.element(index))
            socket->setReceivePaused(true);
    }
}

void ChannelServer::ReceiveBlock(int index, const QByteArray& data)
{
    Connection* entry = connection(index);
    // A block of a connection that closed meanwhile neither registers nor sends anything.
    if (data.isEmpty() || !entry)
        return;
    if (!entry->decided)
        decideOwnership(index, *entry);
    QByteArray frames = data;
    if (!entry->own && frames::isRegistration(data)) {
        const QByteArray dataId = frames::registrationDataId(data);
        if (ChannelTable::IsStorableDataId(dataId)) {
            table_.Register(index, dataId);
            qCDebug(lcChannels).noquote() << "Local connection" << index << "registered as DataID"
                                          << troubleshooting::printable(dataId);
        } else {
            qCWarning(lcChannels) << "Ignoring a registration of local connection" << index
                                  << "- its DataID holds a quote or a line break";
        }
        frames = frames::afterRegistration(data);
        if (frames.isEmpty())
            return;
    }
    feedSplitter(index, [&frames](FrameSplitter& splitter) { splitter.SplitFrames(frames); });
    keepWithinBudget();
}

void ChannelServer::handleFrame(int index, QByteArray frame)
{
    const Connection* entry = connection(index);
    if (entry && entry->own && !frame.startsWith(frames::ModemTag)) {
        // Only the other computer's frames come this way; nothing else may act from here.
        qCWarning(lcChannels) << "Dropped" << frame.size()
                              << "bytes on the engine's own connection: not a relay frame";
        return;
    }
    dispatchFrame_(index, frame);
}

void ChannelServer::feedSplitter(int index, const std::function<void(FrameSplitter&)>& work)
{
    Connection* entry = connection(index);
    if (!entry)
        return;
    work(*entry->splitter);
    // Looked up again: the work may have closed this or any other connection.
    entry = connection(index);
    if (!entry)
        return;
    // What the buffer holds in memory, not only what is in it: a buffer grows ahead of its
    // content.
    const qint64 now = entry->splitter->memoryHeld();
    carryOverTotal_ += now - entry->counted;
    entry->counted = now;
}

void ChannelServer::keepWithinBudget()
{
    while (carryOverTotal_ > carryOverBudget_ && !connections_.empty()) {
        auto largest = connections_.begin();
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            if (it->second.counted > largest->second.counted)
                largest = it;
        }
        const int index = largest->first;
        qCWarning(lcChannels) << "Closing local connection" << index << "- it holds"
                              << largest->second.counted
                              << "bytes without a frame end, and local programs together hold "
                                 "more than the engine allows";
        removeConnection(index, true);
        Q_EMIT connectionDropped(index);
    }
}

void ChannelServer::removeConnection(int index, bool abort)
{
    table_.Remove(index);
    const auto found = connections_.find(index);
    if (found != connections_.end()) {
        carryOverTotal_ -= found->second.counted;
        connections_.erase(found);
    }
    resuming_.erase(index);
    listener_.Close(index, abort);
    // The index and the element's memory come back; a new connection may get them.
    listener_.Unload(index);
    Q_EMIT connectionRemoved(index);
}

void ChannelServer::Listener_Close(int index)
{
    qCDebug(lcChannels) << "Local connection" << index << "closed";
    removeConnection(index, false);
}

} // namespace tellaran
