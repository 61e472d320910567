#pragma once

#include "engine/channels/fairqueue.h"
#include "engine/link/frames.h"

#include <QByteArray>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tellaran {

// senddata: everything waiting for the modem. Each local connection's link frames wait in a
// queue of their own and go onto the line in turn (FairQueue), so a program that sends a
// lot never holds back one that sends a little. Only what the drain is about to write is
// committed to the line: take() commits whole frames until the piece is full, and a frame
// that would not fit into a piece already begun waits for the next one, where the scheduler
// may still put another program's frame first. Frames go onto the line whole and in their
// connection's order; only the order between connections changes.
//
// Flow control is per connection: once a connection's own backlog passes the high-water
// mark, the observer hears that it is to be paused, and below the low-water mark that it may
// send again. When all connections together hold more than the total mark, a connection
// with more than one quantum waiting is paused as well, so the queues stay bounded however
// many programs send. The cap is a last resort above all that: a frame that would take the
// whole queue past it is dropped.
class TransmitQueue
{
public:
    // Frames that come from no connection (queued by the engine itself).
    static constexpr int NoConnection = -1;
    // Per connection: far more than a second of any modem line (5.6 KB at 56000 bit/s),
    // so the line never waits for a program.
    static constexpr qsizetype DefaultHighWater = 64 * 1024;
    static constexpr qsizetype DefaultLowWater = 32 * 1024;
    static constexpr qsizetype DefaultTotalHighWater = 1024 * 1024;
    static constexpr qsizetype DefaultTotalLowWater = 512 * 1024;
    static constexpr qsizetype DefaultCap = 2 * frames::DefaultBufferCap;
    // Told when a connection is to be paused (true) or may send again (false).
    using FlowObserver = std::function<void(int connection, bool paused)>;
    // Told of each frame as it is committed to the line, with the queue it waited in and its
    // connection (NoConnection once that has closed).
    using CommitObserver =
        std::function<void(FairQueue::FlowId flow, int connection, const QByteArray& frame)>;

    explicit TransmitQueue(qsizetype cap = DefaultCap) : cap_(cap) {}

    // Queues a link frame of `connection`; returns whether it was queued (not past the cap).
    bool enqueue(int connection, QByteArray frame);
    // Appends bytes straight to the line, after what is committed already.
    bool append(const QByteArray& bytes);
    // Commits frames for a piece of `count` bytes, then removes up to `count` bytes from the
    // front of the line and returns them.
    QByteArray take(qsizetype count);
    void clear();
    // The connection has closed: its frames still go, in order, and its index may be used
    // by a new connection, whose frames wait apart from them.
    void connectionClosed(int connection);

    // Bytes still to be sent: committed and waiting.
    qsizetype size() const { return committed() + scheduled_.totalBytes(); }
    bool isEmpty() const { return committed() == 0 && scheduled_.isEmpty(); }
    // Bytes committed to the line.
    qsizetype committed() const { return data_.size() - head_; }
    // Bytes of one connection waiting to be committed.
    qsizetype backlog(int connection) const;
    // The queue an open connection's frames wait in; 0 when it has none yet.
    FairQueue::FlowId currentFlow(int connection) const;
    // The unsent bytes, as one string: the committed ones, then the waiting frames in the
    // order they would go if nothing else came.
    QByteArray senddata() const;

    void setCap(qsizetype cap) { cap_ = cap; }
    qsizetype cap() const { return cap_; }
    // Frames refused for exceeding the cap.
    int droppedFrames() const { return dropped_; }

    // The marks of each connection's backlog.
    void setWaterMarks(qsizetype high, qsizetype low);
    qsizetype highWater() const { return highWater_; }
    qsizetype lowWater() const { return lowWater_; }
    // The marks of all backlogs together.
    void setTotalWaterMarks(qsizetype high, qsizetype low);
    bool isPaused(int connection) const { return paused_.count(connection) > 0; }
    void setFlowObserver(FlowObserver observer) { observer_ = std::move(observer); }
    // Told after every frame queued.
    void setAppendObserver(std::function<void()> observer) { appended_ = std::move(observer); }
    void setCommitObserver(CommitObserver observer) { committed_ = std::move(observer); }
    // The most the queue has held at once, and the most one connection had waiting.
    qsizetype peakSize() const { return peak_; }
    qsizetype peakBacklog() const { return peakBacklog_; }

private:
    struct PauseChange
    {
        int connection;
        bool paused;
    };

    FairQueue::FlowId flowOf(int connection);
    void commitFrames(qsizetype count);
    // Decides whether `connection` is to be paused and records a change.
    void review(int connection, std::vector<PauseChange>& changes);
    // Reviews after a change of `connection`'s backlog (and of the total), then tells.
    void noteBacklog(int connection);
    // Switches the total pressure on or off, reviewing every connection when it does.
    void reviewTotal(std::vector<PauseChange>& changes);
    void reviewAll(std::vector<PauseChange>& changes);
    void tell(const std::vector<PauseChange>& changes);

    QByteArray data_;
    // Bytes at the front of data_ that were already taken; dropped in bulk, not per piece.
    qsizetype head_ = 0;
    FairQueue scheduled_;
    // The flow of each open connection, and whose each flow is.
    std::unordered_map<int, FairQueue::FlowId> flowOfConnection_;
    std::unordered_map<FairQueue::FlowId, int> connectionOfFlow_;
    FairQueue::FlowId nextFlow_ = 1;
    std::unordered_set<int> paused_;
    bool totalPressure_ = false;
    qsizetype cap_;
    int dropped_ = 0;
    qsizetype highWater_ = DefaultHighWater;
    qsizetype lowWater_ = DefaultLowWater;
    qsizetype totalHighWater_ = DefaultTotalHighWater;
    qsizetype totalLowWater_ = DefaultTotalLowWater;
    FlowObserver observer_;
    std::function<void()> appended_;
    CommitObserver committed_;
    qsizetype peak_ = 0;
    qsizetype peakBacklog_ = 0;
};

} // namespace tellaran
