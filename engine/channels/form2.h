#pragma once

#include "engine/channels/channelserver.h"
#include "engine/channels/channeltable.h"
#include "engine/channels/framedispatcher.h"
#include "engine/channels/statusdisplay.h"
#include "engine/channels/transmitdrain.h"
#include "engine/channels/transmitqueue.h"

#include <QDateTime>
#include <QHash>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class Form2;
}

namespace tellaran {

class Engine;
enum class StatusView;

// The status window ("Control Panel"). It is loaded hidden before any call and hosts the
// engine's channel side for the whole run: the channel table, the channel server on the
// engine's channel port, frame dispatch with Timerunk, and the transmit drain Timer4.
// Loading it (constructing it) empties senddata, resets the table and starts listening.
//
// Shown while a call is up, it is a thin bar in the top-left corner: either the speed (bar
// and line) or the connection times, the data-flow arrows and six buttons. The lines that
// take turns in the display area keep their tops in twips (lineTops()).
class Form2 : public QWidget
{
    Q_OBJECT
public:
    explicit Form2(Engine& engine, QWidget* parent = nullptr);
    ~Form2() override;

    ChannelTable& channelTable() { return table_; }
    ChannelServer& channelServer() { return server_; }
    FrameDispatcher& dispatcher() { return dispatcher_; }
    TransmitDrain& drain() { return drain_; }
    // The modem transmit queue.
    TransmitQueue& senddata() { return senddata_; }
    QTimer& Timer4() { return drain_.Timer4; }
    QTimer& Timerunk() { return dispatcher_.Timerunk; }

    // Where the "Run" button starts, in pixels from the window's left edge; the programs menu
    // hangs below it.
    int runButtonLeft() const;

    // At the program's end: stops the timers and closes the server and its connections.
    void shutDown();

    // Whether the channel server is listening.
    bool isListening() const { return listening_; }

    // Characters moved over the modem since the last speed reading: the drain adds every
    // piece written, the modem receive path every block read.
    qint64 totaldata = 0;
    // When the modem connected; invalid until then.
    QDateTime t1;
    // The connection time at the last clock tick, in seconds (the info box's average speed).
    qint64 t = 0;
    // Whether the info box is meant to be in view; the engine keeps it.
    bool showdata = false;

    // 300 ms: UpdateConnectionClock.
    QTimer Timer1;
    // 1000 ms: UpdateSpeed.
    QTimer SpdTimer;
    // 1 ms, only while the bar falls: DropSpeedBar.
    QTimer Timer5;
    // One minute: the speed bar's scale starts again from its smallest peak.
    QTimer Timer3;
    // 3000 ms, only in Auto Scroll: SwapStatusLines.
    QTimer Timer2;

    // Sets the "Connected at : " line from t1.
    void ShowConnectedAt();
    // The call's clock starts now: t1 and its line.
    void StartCallClock();
    QString connectedAtLine() const;

    // Timer work.
    void UpdateConnectionClock();
    void UpdateSpeed();
    void DropSpeedBar();
    void ResetSpeedPeak();
    void SwapStatusLines();

    // The Status menu's items.
    void ShowSpeedLines();
    void ShowConnectionLines();
    void StartAutoScroll();
    void ShowView(StatusView view);

    const StatusLineTops& lineTops() const { return lineTops_; }
    int inflowTop() const { return inflowTop_; }
    int outflowTop() const { return outflowTop_; }
    const SpeedMeter& speedMeter() const { return meter_; }

    // Where the clock reads the current time (tests put in their own).
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

public Q_SLOTS:
    // The incoming-activity arrow: in view while received blocks are handled, and a tenth of
    // a second after.
    void ShowInflow();
    void HideInflow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpControls();
    void setUpTimers();
    void applySpeedMeter();
    void applyLineTops();
    void setOutflowTop(int twips);
    void setInflowTop(int twips);

    std::unique_ptr<Ui::Form2> ui;
    Engine& engine_;
    // Declared in the order they depend on each other, so they are destroyed in reverse.
    TransmitQueue senddata_;
    ChannelTable table_;
    ChannelServer server_;
    FrameDispatcher dispatcher_;
    TransmitDrain drain_;
    bool listening_ = false;

    SpeedMeter meter_;
    StatusLineTops lineTops_;
    int inflowTop_ = statustops::FlowHidden;
    int outflowTop_ = statustops::FlowHidden;
    // Take the arrows out of view a little after a drain or a received block ends.
    QTimer inflowHide_;
    QTimer outflowHide_;
    std::function<QDateTime()> clock_;
    // What a left click on each button caption does: a click on its button.
    QHash<const QObject*, std::function<void()>> clickActions_;
};

} // namespace tellaran
