#pragma once

#include "engine/link/frames.h"

#include <QByteArray>
#include <functional>

namespace tellaran {

// Cuts what one local connection sends into frames at "KvekEND". The frame under
// construction survives between blocks in the carry-over buffer, and a terminator whose
// characters arrive in two blocks is still found.
//
// An incomplete frame that grows past the cap is dropped, and so is the rest of it up to
// its terminator, so a client that never terminates cannot exhaust memory; the frames
// after it are cut as usual.
class FrameSplitter
{
public:
    using FrameHandler = std::function<void(QByteArray frame)>;

    explicit FrameSplitter(FrameHandler onFrame, qsizetype cap = frames::DefaultBufferCap);

    // Appends one block and hands every complete frame, terminator removed, to the
    // handler in arrival order. Empty frames (two terminators in a row) are handed on too.
    // The frames are taken out of the buffer before the first one is handed on, so the
    // handler may feed this splitter again or destroy it.
    void SplitFrames(const QByteArray& chunk);

    void setCap(qsizetype cap) { cap_ = cap; }
    qsizetype cap() const { return cap_; }
    // Characters of the frame under construction (a few more while an oversized frame is
    // being skipped).
    qsizetype buffered() const { return buffer_.size(); }
    // Incomplete frames dropped for exceeding the cap.
    int droppedFrames() const { return dropped_; }

private:
    FrameHandler onFrame_;
    qsizetype cap_;
    QByteArray buffer_;
    // True while the rest of an oversized frame is being skipped.
    bool discarding_ = false;
    int dropped_ = 0;
};

} // namespace tellaran
