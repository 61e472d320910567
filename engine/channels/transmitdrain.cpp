#include "engine/channels/transmitdrain.h"

#include "engine/channels/transmitqueue.h"
#include "engine/engine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

namespace tellaran {

TransmitDrain::TransmitDrain(TransmitQueue& senddata, std::unique_ptr<ModemOutput> output,
                             TrafficCounters& counters, QObject* parent)
    : QObject(parent), senddata_(senddata), output_(std::move(output)), counters_(counters)
{
    Timer4.setInterval(Timer4Interval);
    connect(&Timer4, &QTimer::timeout, this, &TransmitDrain::Timer4_Timer);
    Timer4.start();
}

TransmitDrain::~TransmitDrain() = default;

void TransmitDrain::Timer4_Timer()
{
    if (draining_ || senddata_.isEmpty() || !output_->isReady())
        return;
    if (beginDrain())
        runDrain();
}

void TransmitDrain::FrameQueued()
{
    if (draining_ || senddata_.isEmpty() || !output_->isReady() || output_->outBufferCount() > 0)
        return;
    // An idle line takes the first piece at once, not at the next tick; the pieces after it
    // follow as in any drain, from the event loop.
    if (!beginDrain() || !writePiece())
        return;
    QTimer::singleShot(0, this, [this] {
        if (waitForEmptyOutput())
            runDrain();
    });
}

bool TransmitDrain::beginDrain()
{
    const QPointer<TransmitDrain> self(this);
    draining_ = true;
    timerWasActive_ = Timer4.isActive();
    Timer4.stop();
    pieceSize_ = output_->outBufferSize();
    if (pieceSize_ < 1)
        pieceSize_ = DefaultPieceSize;
    Q_EMIT drainStarted();
    return !self.isNull();
}

bool TransmitDrain::writePiece()
{
    const QPointer<TransmitDrain> self(this);
    const QByteArray piece = senddata_.take(pieceSize_);
    counters_.bytessent += piece.size();
    Q_EMIT pieceWritten(piece.size());
    if (!self)
        return false;
    output_->output(piece);
    return true;
}

// The queue's length is read on every pass, so frames queued during a wait go too.
void TransmitDrain::runDrain()
{
    while (!senddata_.isEmpty() && output_->isReady()) {
        if (!writePiece() || !waitForEmptyOutput())
            return;
    }
    draining_ = false;
    if (timerWasActive_)
        Timer4.start();
    Q_EMIT drainFinished();
}

bool TransmitDrain::waitForEmptyOutput()
{
    const QPointer<TransmitDrain> self(this);
    if (output_->outBufferCount() <= 0)
        return true;
    // Looks again after every batch of events; the timer only makes sure the wait wakes.
    QTimer poll;
    poll.start(waitPollInterval_);
    while (self && output_->isReady() && output_->outBufferCount() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !self.isNull();
}

} // namespace tellaran
