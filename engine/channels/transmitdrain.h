#pragma once

#include "engine/channels/modemoutput.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

namespace tellaran {

class TransmitQueue;
struct TrafficCounters;

// Timer4: drains senddata into the modem's serial port.
//
// Nothing is written until a call is up and the port is open; until then the frames stay
// queued. A frame queued on an idle line starts a drain at once (FrameQueued). A drain writes
// pieces of at most OutBufferSize bytes (1024 when the port reports less than 1) and, after each,
// waits in the event loop until the port has sent it, so the port's buffer never overflows. Frames
// queued while it waits leave with the same drain. Timer4 is off during a drain, so no second drain
// starts inside the first; if the port closes or the call drops, the drain stops and the unsent
// rest stays queued.
class TransmitDrain : public QObject
{
    Q_OBJECT
public:
    static constexpr int Timer4Interval = 100;
    static constexpr int DefaultPieceSize = 1024;

    TransmitDrain(TransmitQueue& senddata, std::unique_ptr<ModemOutput> output,
                  TrafficCounters& counters, QObject* parent = nullptr);
    ~TransmitDrain() override;

    void Timer4_Timer();
    // A frame was queued: on an idle line (connected, port open, nothing waiting in it) the
    // drain starts at once instead of at the next tick.
    void FrameQueued();
    bool isDraining() const { return draining_; }

    ModemOutput& output() const { return *output_; }
    // How often a waiting drain looks at the port again (it also wakes on any event).
    void setWaitPollInterval(int milliseconds) { waitPollInterval_ = milliseconds; }

    // Every 100 ms: Timer4_Timer. Runs from construction, off only during a drain.
    QTimer Timer4;

Q_SIGNALS:
    // The outgoing-activity picture goes into view for the drain and out of view after it.
    void drainStarted();
    void drainFinished();
    // A piece of `size` bytes was written to the port (the status window counts totaldata).
    void pieceWritten(qint64 size);

private:
    // Each returns false when the drain was destroyed meanwhile.
    bool beginDrain();
    bool writePiece();
    bool waitForEmptyOutput();
    void runDrain();

    TransmitQueue& senddata_;
    std::unique_ptr<ModemOutput> output_;
    TrafficCounters& counters_;
    bool draining_ = false;
    bool timerWasActive_ = false;
    int pieceSize_ = DefaultPieceSize;
    int waitPollInterval_ = 5;
};

} // namespace tellaran
