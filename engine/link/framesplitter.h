#pragma once

#include "engine/link/frames.h"

#include <QByteArray>
#include <algorithm>
#include <functional>
#include <memory>

namespace tellaran {

// Cuts what one local connection sends into frames at "KvekEND". The frame under
// construction survives between blocks in the carry-over buffer, and a terminator whose
// characters arrive in two blocks is still found.
//
// An incomplete frame that grows past the cap is dropped, and so is the rest of it up to
// its terminator, so a client that never terminates cannot exhaust memory; the frames
// after it are cut as usual.
//
// Flow control: while the hold predicate says so, complete frames are not handed on but
// stay in the buffer, in order, until HandOnHeldFrames() is called; the caller stops reading
// the connection meanwhile.
class FrameSplitter
{
public:
    using FrameHandler = std::function<void(QByteArray frame)>;
    using HoldPredicate = std::function<bool()>;

    explicit FrameSplitter(FrameHandler onFrame, qsizetype cap = frames::DefaultBufferCap);
    ~FrameSplitter();
    FrameSplitter(const FrameSplitter&) = delete;
    FrameSplitter& operator=(const FrameSplitter&) = delete;

    // Appends one block and hands every complete frame, terminator removed, to the
    // handler in arrival order. Empty frames (two terminators in a row) are handed on too.
    // The handler may feed this splitter again or destroy it.
    void SplitFrames(const QByteArray& chunk);
    // Hands on the frames held back while the hold predicate was true.
    void HandOnHeldFrames();

    // Asked before each frame is handed on; true holds it and every frame after it.
    void setHoldPredicate(HoldPredicate holds) { holds_ = std::move(holds); }
    // Whether complete frames wait in the buffer.
    bool isHolding() const { return holding_; }

    void setCap(qsizetype cap) { cap_ = cap; }
    qsizetype cap() const { return cap_; }
    // Characters in the buffer: the frame under construction, frames held back, and a few
    // more while an oversized frame is being skipped.
    qsizetype buffered() const { return buffer_.size() - head_; }
    // Memory the buffer holds, which may be more than what is in it.
    qsizetype memoryHeld() const { return std::max(buffer_.capacity(), buffer_.size()); }
    // Incomplete frames dropped for exceeding the cap.
    int droppedFrames() const { return dropped_; }

private:
    void cutFrames();

    FrameHandler onFrame_;
    HoldPredicate holds_;
    qsizetype cap_;
    QByteArray buffer_;
    // Where the frame under construction begins; what lies before it was handed on.
    qsizetype head_ = 0;
    // Where the search for the next terminator goes on.
    qsizetype scanFrom_ = 0;
    // True while the rest of an oversized frame is being skipped.
    bool discarding_ = false;
    bool holding_ = false;
    int dropped_ = 0;
    // Cleared when the splitter is destroyed, so a pass in progress can tell.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tellaran
