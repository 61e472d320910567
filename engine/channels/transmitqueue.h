#pragma once

#include "engine/link/frames.h"

#include <QByteArray>

namespace tellaran {

// senddata: the link frames waiting for the modem, in order. The drain takes pieces from
// the front while the dispatcher appends at the back; the queue is bounded by a cap on
// what is still unsent, so a flood of local frames while no call is up cannot exhaust
// memory.
class TransmitQueue
{
public:
    explicit TransmitQueue(qsizetype cap = frames::DefaultBufferCap) : cap_(cap) {}

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

private:
    QByteArray data_;
    // Bytes at the front of data_ that were already taken; dropped in bulk, not per piece.
    qsizetype head_ = 0;
    qsizetype cap_;
    int dropped_ = 0;
};

} // namespace tellaran
