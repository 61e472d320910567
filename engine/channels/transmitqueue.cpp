#include "engine/channels/transmitqueue.h"

#include <algorithm>

namespace tellaran {

namespace {

// Taken bytes are moved out of the buffer once they are at least this many and at least
// half of it, so moving the rest costs no more than the pieces taken.
constexpr qsizetype CompactThreshold = 64 * 1024;

} // namespace

bool TransmitQueue::append(const QByteArray& bytes)
{
    if (bytes.size() > cap_ - size()) {
        ++dropped_;
        return false;
    }
    data_.append(bytes);
    peak_ = std::max(peak_, size());
    noteLevel();
    if (appended_) {
        const std::function<void()> appended = appended_;
        appended();
    }
    return true;
}

QByteArray TransmitQueue::take(qsizetype count)
{
    const qsizetype n = qBound<qsizetype>(0, count, size());
    QByteArray piece = data_.mid(head_, n);
    head_ += n;
    if (head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    } else if (head_ >= CompactThreshold && head_ * 2 >= data_.size()) {
        data_.remove(0, head_);
        head_ = 0;
    }
    noteLevel();
    return piece;
}

void TransmitQueue::clear()
{
    data_.clear();
    head_ = 0;
    noteLevel();
}

void TransmitQueue::setWaterMarks(qsizetype high, qsizetype low)
{
    highWater_ = high;
    lowWater_ = std::min(low, high);
    noteLevel();
}

void TransmitQueue::noteLevel()
{
    const bool above = aboveHighWater_ ? size() >= lowWater_ : size() > highWater_;
    if (above == aboveHighWater_)
        return;
    aboveHighWater_ = above;
    if (observer_) {
        // A copy: the observer may replace itself.
        const FlowObserver observer = observer_;
        observer(above);
    }
}

} // namespace tellaran
