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
#include <set>

namespace tellaran {

class ChannelTable;
class Engine;

// The channel server: the engine's door for local programs, on the Listener socket array.
//
// Only connections from this computer are accepted; each gets an element index of its own
// (1, 2, 3 ...; a closed connection's index is given again once the numbers have gone round
// to it, so a run serves any number of connections, at most DefaultConnectionLimit at once). A
// block that begins with "<request>" registers its DataID in the channel table, and what follows
// the DataID in the same block is treated as data. Data is cut into frames per connection, each
// connection with its own carry-over buffer, and every frame goes to the frame handler
// (DispatchFrame). When the peer closes, the connection's records leave the table and the element
// is closed.
//
// The engine's own connection (the modem window's, which brings the frames received from
// the other computer) carries relay frames only: anything else on it is dropped, and it
// never registers.
//
// Limits, so that no local program can take the engine down or lose another's data:
// - while a connection is paused (its own frames for the modem are above their mark), its
//   frames wait and it is not read, so TCP slows that program down and no other;
// - what waits to be written to a connection is capped (RelayCap): a program that stops
//   reading is closed rather than holding the engine's memory;
// - all carry-over buffers together stay within a budget (CarryOverBudget): past it, the
//   connection holding the most unterminated data is closed.
class ChannelServer : public QObject, public ChannelConnections
{
    Q_OBJECT
public:
    // Told of every frame with the connection it came from.
    using FrameHandler = std::function<void(int index, const QByteArray& frame)>;
    using PeerCheck = std::function<bool(const QHostAddress& peer)>;

    // Element indices are signed 16-bit numbers: 32767 connections at once.
    static constexpr int DefaultConnectionLimit = 32767;
    static constexpr qint64 DefaultRelayCap = 16 * 1024 * 1024;
    static constexpr qint64 DefaultCarryOverBudget = 64 * 1024 * 1024;

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
    // Queues bytes for a connection; one whose queue would pass the relay cap is closed.
    void SendData(int index, const QByteArray& data) override;

    // Flow control of one connection: while paused, its frames wait and it is not read. The
    // engine's own connection is never paused. Resuming hands on the waiting frames from the
    // event loop, then reads the connection again.
    void setConnectionPaused(int index, bool paused);
    bool isConnectionPaused(int index) const;

    // Decides whether a peer may connect; by default isThisComputer.
    void setPeerCheck(PeerCheck check) { peerCheck_ = std::move(check); }
    // The number of connections served at once, and the highest index.
    void setConnectionLimit(int limit) { connectionLimit_ = limit; }
    // Cap of each connection's carry-over buffer.
    void setBufferCap(qsizetype cap);
    // Cap of what waits to be written to one connection.
    void setRelayCap(qint64 cap) { relayCap_ = cap; }
    // Budget of all carry-over buffers together.
    void setCarryOverBudget(qint64 budget) { carryOverBudget_ = budget; }
    // Memory held by all carry-over buffers together.
    qint64 carryOverTotal() const { return carryOverTotal_; }

    // A loopback address or one of this computer's own addresses.
    static bool isThisComputer(const QHostAddress& peer);

    // The carry-over buffer of a connection; nullptr once it has closed.
    const FrameSplitter* splitter(int index) const;
    // Whether the connection is known to be the engine's own (decided at its first block).
    bool isOwnConnection(int index) const;

    // The state the server keeps for an accepted connection: its carry-over buffer and where
    // it comes from. Listener_ConnectionRequest opens one for each connection it accepts.
    void OpenConnection(int index, const QHostAddress& peer, quint16 peerPort);
    // What a connection's block does, once read: a registration, then frames cut per
    // connection. Listener_DataArrival reads the block and hands it here.
    void ReceiveBlock(int index, const QByteArray& data);

    // Event handlers of the Listener array.
    void Listener_ConnectionRequest(int index, qintptr requestId);
    void Listener_DataArrival(int index, qint64 bytesTotal);
    void Listener_Close(int index);

Q_SIGNALS:
    // A connection was refused: from another computer, or past the connection limit.
    void connectionRefused(const QHostAddress& peer);
    // The server closed a connection on its own: past the relay cap or the carry-over budget.
    void connectionDropped(int index);
    // A connection is gone, closed by either side; its index may come again.
    void connectionRemoved(int index);

private:
    struct Connection
    {
        std::unique_ptr<FrameSplitter> splitter;
        QHostAddress peer;
        quint16 peerPort = 0;
        // Whether `own` is known yet: decided at the first block.
        bool decided = false;
        bool own = false;
        // Whether the log has named it the engine's own.
        bool namedOwn = false;
        // What this connection adds to carryOverTotal_.
        qint64 counted = 0;
        bool paused = false;
    };

    Connection* connection(int index);
    void decideOwnership(int index, Connection& connection);
    void logOwnConnection(int index);
    void handleFrame(int index, QByteArray frame);
    // Runs `work` on a connection's splitter and keeps the carry-over total right, even when
    // the work closes connections.
    void feedSplitter(int index, const std::function<void(FrameSplitter&)>& work);
    void keepWithinBudget();
    void handOnHeldFrames();
    // Forgets a connection: its records leave the table, its buffer is dropped, and the
    // element closes (aborted: what waits for the peer is thrown away).
    void removeConnection(int index, bool abort);
    int nextFreeIndex() const;

    Engine& engine_;
    ChannelTable& table_;
    FrameHandler dispatchFrame_;
    SocketArray listener_;
    PeerCheck peerCheck_;
    int connectionLimit_ = DefaultConnectionLimit;
    // The index given to the newest connection.
    int lastIndex_ = 0;
    qsizetype bufferCap_ = frames::DefaultBufferCap;
    qint64 relayCap_ = DefaultRelayCap;
    qint64 carryOverBudget_ = DefaultCarryOverBudget;
    qint64 carryOverTotal_ = 0;
    bool handOnScheduled_ = false;
    // Connections that may send again, once the event loop hands on their held frames.
    std::set<int> resuming_;
    std::map<int, Connection> connections_;
};

} // namespace tellaran
