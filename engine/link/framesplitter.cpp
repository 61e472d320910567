#include "engine/link/framesplitter.h"

#include <QByteArrayList>
#include <algorithm>

namespace tellaran {

FrameSplitter::FrameSplitter(FrameHandler onFrame, qsizetype cap)
    : onFrame_(std::move(onFrame)), cap_(cap)
{}

void FrameSplitter::SplitFrames(const QByteArray& chunk)
{
    const qsizetype terminatorSize = frames::Terminator.size();
    // A terminator may have begun in the previous block.
    qsizetype searchFrom = std::max<qsizetype>(0, buffer_.size() - (terminatorSize - 1));
    buffer_.append(chunk);

    QByteArrayList complete;
    qsizetype frameStart = 0;
    for (;;) {
        const qsizetype at = buffer_.indexOf(frames::Terminator, searchFrom);
        if (at < 0)
            break;
        if (discarding_)
            discarding_ = false;
        else
            complete.append(buffer_.mid(frameStart, at - frameStart));
        frameStart = at + terminatorSize;
        searchFrom = frameStart;
    }
    buffer_.remove(0, frameStart);

    if (!discarding_ && buffer_.size() > cap_) {
        discarding_ = true;
        ++dropped_;
    }
    if (discarding_ && buffer_.size() >= terminatorSize) {
        // Keep only what could be the start of the terminator that ends the skipped frame.
        buffer_ = buffer_.right(terminatorSize - 1);
    }

    if (complete.isEmpty())
        return;
    // Handing on may destroy this splitter; work from copies only.
    const FrameHandler onFrame = onFrame_;
    for (QByteArray& frame : complete)
        onFrame(std::move(frame));
}

} // namespace tellaran
