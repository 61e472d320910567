#pragma once

#include "engine/link/frames.h"

#include <QByteArray>
#include <functional>

namespace tellaran {

// senddata: the link frames waiting for the modem, in order. The drain takes pieces from
// the front while the dispatcher appends at the back.
//
// Flow control keeps it short: once it holds more than the high-water mark, the observer
// hears so and the channel server stops taking frames from local programs; below the
// low-water mark they flow again. The high-water mark is far more than a second of any
// modem line (5.6 KB at 56000 bit/s), so the line never waits for the programs. The cap is
// only a last resort: above the mark nothing is queued but the one frame that crossed it,
// and no frame of a local program exceeds the carry-over cap, so the cap leaves room for both.
class TransmitQueue
{
public:
    static constexpr qsizetype DefaultHighWater = 64 * 1024;
    static constexpr qsizetype DefaultLowWater = 32 * 1024;
    static constexpr qsizetype DefaultCap = 2 * frames::DefaultBufferCap;
    // Told true when the queue rises above the high-water mark, false when it falls below
    // the low-water mark again.
    using FlowObserver = std::function<void(bool aboveHighWater)>;

    explicit TransmitQueue(qsizetype cap = DefaultCap) : cap_(cap) {}

    // Appends the bytes unless they would take the unsent queue past the cap; returns
    // whether they were queued.
    bool append(const QByteArray& bytes);
    // Removes up to `count` bytes from the front and returns them.
    QByteArray take(qsizetype count);
    void clear();

    // Bytes still to be sent.
    qsizetype size() const { return data_.size() - head_; }
    bool isEmpty() const { return size() == 0; }
    // The unsent bytes, as one string.
    QByteArray senddata() const { return data_.mid(head_); }

    void setCap(qsizetype cap) { cap_ = cap; }
    qsizetype cap() const { return cap_; }
    // Frames refused for exceeding the cap.
    int droppedFrames() const { return dropped_; }

    void setWaterMarks(qsizetype high, qsizetype low);
    qsizetype highWater() const { return highWater_; }
    qsizetype lowWater() const { return lowWater_; }
    bool isAboveHighWater() const { return aboveHighWater_; }
    void setFlowObserver(FlowObserver observer) { observer_ = std::move(observer); }
    // Told after every append.
    void setAppendObserver(std::function<void()> observer) { appended_ = std::move(observer); }
    // The most the queue has held at once.
    qsizetype peakSize() const { return peak_; }

private:
    void noteLevel();

    QByteArray data_;
    // Bytes at the front of data_ that were already taken; dropped in bulk, not per piece.
    qsizetype head_ = 0;
    qsizetype cap_;
    int dropped_ = 0;
    qsizetype highWater_ = DefaultHighWater;
    qsizetype lowWater_ = DefaultLowWater;
    bool aboveHighWater_ = false;
    FlowObserver observer_;
    std::function<void()> appended_;
    qsizetype peak_ = 0;
};

} // namespace tellaran
