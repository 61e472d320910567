#pragma once

#include "engine/channels/channelconnections.h"
#include "engine/link/frames.h"
#include "engine/link/framesplitter.h"
#include "platform/socketarray.h"

#include <QHostAddress>
#include <QObject>
#include <functional>
#include <map>
#include <memory>

namespace tellaran {

class ChannelTable;
class Engine;

// The channel server: the engine's door for local programs, on the Listener socket array.
//
// Only connections from this computer are accepted; each gets a new element index (1, 2,
// 3 ..., never reused in a run). A block that begins with "<request>" registers its DataID
// in the channel table, and what follows the DataID in the same block is treated as data.
// Data is cut into frames per connection, each connection with its own carry-over buffer,
// and every frame goes to the frame handler (DispatchFrame). When the peer closes, the
// connection's records leave the table and the element is closed.
class ChannelServer : public QObject, public ChannelConnections
{
    Q_OBJECT
public:
    using FrameHandler = std::function<void(const QByteArray& frame)>;
    using PeerCheck = std::function<bool(const QHostAddress& peer)>;

    // Element indices are signed 16-bit numbers: 32767 connections per run.
    static constexpr int DefaultConnectionLimit = 32767;

    ChannelServer(Engine& engine, ChannelTable& table, FrameHandler dispatchFrame,
                  QObject* parent = nullptr);
    ~ChannelServer() override;

    // Listens on engine.channelPort() on every local address. A failure is reported in a
    // message box (shown from the event loop) and returns false.
    bool start();
    // Stops listening and closes every connection; the peers see their connections end.
    void shutDown();

    SocketArray& Listener() { return listener_; }

    bool isConnected(int index) const override;
    void SendData(int index, const QByteArray& data) override;

    // Decides whether a peer may connect; by default isThisComputer.
    void setPeerCheck(PeerCheck check) { peerCheck_ = std::move(check); }
    // The number of connections a run accepts.
    void setConnectionLimit(int limit) { connectionLimit_ = limit; }
    // Cap of each connection's carry-over buffer.
    void setBufferCap(qsizetype cap);

    // A loopback address or one of this computer's own addresses.
    static bool isThisComputer(const QHostAddress& peer);

    // The carry-over buffer of a connection; nullptr once it has closed.
    const FrameSplitter* splitter(int index) const;

    // Event handlers of the Listener array.
    void Listener_ConnectionRequest(int index, qintptr requestId);
    void Listener_DataArrival(int index, qint64 bytesTotal);
    void Listener_Close(int index);

Q_SIGNALS:
    // A connection was refused: from another computer, or past the connection limit.
    void connectionRefused(const QHostAddress& peer);

private:
    void splitFrames(int index, const QByteArray& chunk);

    Engine& engine_;
    ChannelTable& table_;
    FrameHandler dispatchFrame_;
    SocketArray listener_;
    PeerCheck peerCheck_;
    int connectionLimit_ = DefaultConnectionLimit;
    qsizetype bufferCap_ = frames::DefaultBufferCap;
    std::map<int, std::unique_ptr<FrameSplitter>> splitters_;
};

} // namespace tellaran
