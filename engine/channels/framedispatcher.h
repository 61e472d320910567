#pragma once

#include <QByteArray>
#include <QTimer>
#include <array>

namespace tellaran {

class ChannelConnections;
class ChannelTable;
class Engine;
class TransmitQueue;

// Acts on every frame the channel server cuts from its local connections: relayed payloads
// go to the local connection registered under their DataID, relayed user messages to the
// engine's message windows, and everything else out over the modem link through senddata.
//
// A relayed payload whose channel is not registered and connected yet is held in one of
// ten slots and retried by Timerunk until it can be delivered.
class FrameDispatcher
{
public:
    static constexpr int PendingSlots = 10;
    static constexpr int TimerunkInterval = 5000;

    FrameDispatcher(Engine& engine, ChannelTable& table, ChannelConnections& connections,
                    TransmitQueue& senddata);
    FrameDispatcher(const FrameDispatcher&) = delete;
    FrameDispatcher& operator=(const FrameDispatcher&) = delete;

    // `connection` is the local connection the frame came from: a frame for the modem waits
    // in that connection's own queue.
    void DispatchFrame(const QByteArray& frame, int connection = -1);
    // Retries every held frame, slots 0 to 9 in order.
    void Timerunk_Timer();

    const std::array<QByteArray, PendingSlots>& pendingframes() const { return pendingframes_; }

    // Every 5000 ms: Timerunk_Timer. Runs from construction.
    QTimer Timerunk;

private:
    void deliverPayload(const QByteArray& frame, const QByteArray& dataId,
                        const QByteArray& payload);
    void hold(const QByteArray& frame);
    void reportDroppedFrame(qsizetype size);

    Engine& engine_;
    ChannelTable& table_;
    ChannelConnections& connections_;
    TransmitQueue& senddata_;
    std::array<QByteArray, PendingSlots> pendingframes_;
    bool dropReported_ = false;
};

} // namespace tellaran
