#include "engine/channels/transmitqueue.h"

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
    return piece;
}

void TransmitQueue::clear()
{
    data_.clear();
    head_ = 0;
}

} // namespace tellaran
