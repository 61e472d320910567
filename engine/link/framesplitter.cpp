#include "engine/link/framesplitter.h"

#include <algorithm>

namespace tellaran {

namespace {

// How many bytes at the end of `buffer` could be the start of a terminator still to come:
// they are not part of the frame, and must not count against the cap.
qsizetype partialTerminatorAtEnd(const QByteArray& buffer)
{
    for (qsizetype length = std::min(buffer.size(), frames::Terminator.size() - 1); length > 0;
         --length) {
        if (QByteArrayView(buffer).last(length) == frames::Terminator.first(length))
            return length;
    }
    return 0;
}

} // namespace

FrameSplitter::FrameSplitter(FrameHandler onFrame, qsizetype cap)
    : onFrame_(std::move(onFrame)), cap_(cap)
{}

FrameSplitter::~FrameSplitter()
{
    *alive_ = false;
}

void FrameSplitter::SplitFrames(const QByteArray& chunk)
{
    buffer_.append(chunk);
    cutFrames();
}

void FrameSplitter::HandOnHeldFrames()
{
    cutFrames();
}

void FrameSplitter::cutFrames()
{
    const qsizetype terminatorSize = frames::Terminator.size();
    const std::shared_ptr<bool> alive = alive_;
    // Frames are taken from the front by moving head_; the buffer is shortened once, at the
    // end, so many small frames in one block cost no more than one pass over it. The members
    // are kept right before each handler runs, since it may feed this splitter again.
    holding_ = false;
    for (;;) {
        const qsizetype at = buffer_.indexOf(frames::Terminator, std::max(scanFrom_, head_));
        if (at < 0)
            break;
        if (discarding_) {
            discarding_ = false;
            head_ = at + terminatorSize;
            continue;
        }
        if (holds_ && holds_()) {
            holding_ = true;
            break;
        }
        QByteArray frame = buffer_.mid(head_, at - head_);
        head_ = at + terminatorSize;
        scanFrom_ = head_;
        const FrameHandler onFrame = onFrame_;
        onFrame(std::move(frame));
        if (!*alive)
            return;
    }
    buffer_.remove(0, head_);
    scanFrom_ = std::max<qsizetype>(0, scanFrom_ - head_);
    head_ = 0;
    // An emptied buffer gives its memory back; most connections hold no partial frame.
    if (buffer_.isEmpty())
        buffer_ = QByteArray();
    if (holding_)
        return;
    // A terminator may have begun at the end of this block.
    scanFrom_ = std::max<qsizetype>(0, buffer_.size() - (terminatorSize - 1));

    if (!discarding_ && buffer_.size() - partialTerminatorAtEnd(buffer_) > cap_) {
        discarding_ = true;
        ++dropped_;
    }
    if (discarding_ && buffer_.size() >= terminatorSize) {
        // Keep only what could be the start of the terminator that ends the skipped frame.
        buffer_ = buffer_.right(terminatorSize - 1);
        scanFrom_ = 0;
    }
}

} // namespace tellaran
