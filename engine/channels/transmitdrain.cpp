#include "engine/channels/transmitdrain.h"

#include "engine/channels/transmitqueue.h"
#include "engine/engine.h"

#include <QCoreApplication>
#include <QEventLoop>

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
    const QPointer<TransmitDrain> self(this);
    draining_ = true;
    const bool timerWasActive = Timer4.isActive();
    Timer4.stop();
    Q_EMIT drainStarted();
    if (!self)
        return;

    int pieceSize = output_->outBufferSize();
    if (pieceSize < 1)
        pieceSize = DefaultPieceSize;
    // The queue's length is read on every pass, so frames queued during a wait go too.
    while (!senddata_.isEmpty() && output_->isReady()) {
        const QByteArray piece = senddata_.take(pieceSize);
        counters_.bytessent += piece.size();
        Q_EMIT pieceWritten(piece.size());
        if (!self)
            return;
        output_->output(piece);
        if (!waitForEmptyOutput())
            return;
    }

    draining_ = false;
    if (timerWasActive)
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
