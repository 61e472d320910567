#include "engine/channels/transmitqueue.h"

#include <algorithm>

namespace tellaran {

namespace {

// Taken bytes are moved out of the buffer once they are at least this many and at least
// half of it, so moving the rest costs no more than the pieces taken.
constexpr qsizetype CompactThreshold = 64 * 1024;

} // namespace

bool TransmitQueue::enqueue(int connection, QByteArray frame)
{
    if (frame.size() > cap_ - size()) {
        ++dropped_;
        return false;
    }
    const FairQueue::FlowId flow = flowOf(connection);
    scheduled_.push(flow, std::move(frame));
    peak_ = std::max(peak_, size());
    peakBacklog_ = std::max(peakBacklog_, scheduled_.backlog(flow));
    noteBacklog(connection);
    if (appended_) {
        const std::function<void()> appended = appended_;
        appended();
    }
    return true;
}

bool TransmitQueue::append(const QByteArray& bytes)
{
    if (bytes.size() > cap_ - size()) {
        ++dropped_;
        return false;
    }
    data_.append(bytes);
    peak_ = std::max(peak_, size());
    if (appended_) {
        const std::function<void()> appended = appended_;
        appended();
    }
    return true;
}

void TransmitQueue::commitFrames(qsizetype count)
{
    std::vector<PauseChange> changes;
    while (committed() < count) {
        const QByteArray* next = scheduled_.next();
        // A frame that does not fit into a piece already begun waits for the next piece.
        if (!next || (committed() > 0 && committed() + next->size() > count))
            break;
        FairQueue::FlowId flow = 0;
        const QByteArray frame = scheduled_.takeNext(&flow);
        data_.append(frame);
        const auto owner = connectionOfFlow_.find(flow);
        const int connection = owner == connectionOfFlow_.end() ? NoConnection : owner->second;
        if (committed_) {
            const CommitObserver observer = committed_;
            observer(flow, connection, frame);
        }
        reviewTotal(changes);
        review(connection, changes);
    }
    tell(changes);
}

QByteArray TransmitQueue::take(qsizetype count)
{
    commitFrames(count);
    const qsizetype n = qBound<qsizetype>(0, count, committed());
    QByteArray piece = data_.mid(head_, n);
    head_ += n;
    if (head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    } else if (head_ >= CompactThreshold && head_ * 2 >= data_.size()) {
        data_.remove(0, head_);
        head_ = 0;
    }
    return piece;
}

void TransmitQueue::clear()
{
    data_.clear();
    head_ = 0;
    scheduled_.clear();
    std::vector<PauseChange> changes;
    reviewTotal(changes);
    reviewAll(changes);
    tell(changes);
}

void TransmitQueue::connectionClosed(int connection)
{
    const auto found = flowOfConnection_.find(connection);
    if (found != flowOfConnection_.end()) {
        connectionOfFlow_.erase(found->second);
        flowOfConnection_.erase(found);
    }
    paused_.erase(connection);
}

qsizetype TransmitQueue::backlog(int connection) const
{
    const auto found = flowOfConnection_.find(connection);
    return found == flowOfConnection_.end() ? 0 : scheduled_.backlog(found->second);
}

FairQueue::FlowId TransmitQueue::currentFlow(int connection) const
{
    const auto found = flowOfConnection_.find(connection);
    return found == flowOfConnection_.end() ? 0 : found->second;
}

QByteArray TransmitQueue::senddata() const
{
    return data_.mid(head_) + scheduled_.inOrder();
}

void TransmitQueue::setWaterMarks(qsizetype high, qsizetype low)
{
    highWater_ = high;
    lowWater_ = std::min(low, high);
    std::vector<PauseChange> changes;
    reviewAll(changes);
    tell(changes);
}

void TransmitQueue::setTotalWaterMarks(qsizetype high, qsizetype low)
{
    totalHighWater_ = high;
    totalLowWater_ = std::min(low, high);
    std::vector<PauseChange> changes;
    reviewTotal(changes);
    reviewAll(changes);
    tell(changes);
}

FairQueue::FlowId TransmitQueue::flowOf(int connection)
{
    const auto [found, added] = flowOfConnection_.try_emplace(connection, nextFlow_);
    if (added) {
        connectionOfFlow_.emplace(nextFlow_, connection);
        ++nextFlow_;
    }
    return found->second;
}

void TransmitQueue::review(int connection, std::vector<PauseChange>& changes)
{
    if (connection == NoConnection)
        return;
    const qsizetype waiting = backlog(connection);
    // Under total pressure the connections with more than a turn's worth waiting hold back;
    // one that sends a frame now and then still goes.
    const bool heavy = totalPressure_ && waiting > scheduled_.quantum();
    if (!isPaused(connection)) {
        if (waiting > highWater_ || heavy) {
            paused_.insert(connection);
            changes.push_back({connection, true});
        }
    } else if ((waiting < lowWater_ || waiting == 0) && !heavy) {
        paused_.erase(connection);
        changes.push_back({connection, false});
    }
}

void TransmitQueue::noteBacklog(int connection)
{
    std::vector<PauseChange> changes;
    reviewTotal(changes);
    review(connection, changes);
    tell(changes);
}

void TransmitQueue::reviewTotal(std::vector<PauseChange>& changes)
{
    const qsizetype total = scheduled_.totalBytes();
    const bool pressure = totalPressure_ ? total >= totalLowWater_ : total > totalHighWater_;
    if (pressure == totalPressure_)
        return;
    totalPressure_ = pressure;
    reviewAll(changes);
}

void TransmitQueue::reviewAll(std::vector<PauseChange>& changes)
{
    std::vector<int> connections;
    connections.reserve(flowOfConnection_.size() + paused_.size());
    for (const auto& [connection, flow] : flowOfConnection_)
        connections.push_back(connection);
    for (int connection : paused_) {
        if (!flowOfConnection_.count(connection))
            connections.push_back(connection);
    }
    for (int connection : connections)
        review(connection, changes);
}

void TransmitQueue::tell(const std::vector<PauseChange>& changes)
{
    if (!observer_)
        return;
    // A copy: the observer may replace itself.
    const FlowObserver observer = observer_;
    for (const PauseChange& change : changes)
        observer(change.connection, change.paused);
}

} // namespace tellaran
