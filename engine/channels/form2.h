#pragma once

#include "engine/channels/channelserver.h"
#include "engine/channels/channeltable.h"
#include "engine/channels/framedispatcher.h"
#include "engine/channels/transmitdrain.h"
#include "engine/channels/transmitqueue.h"

#include <QDateTime>
#include <QTimer>
#include <QWidget>

namespace tellaran {

class Engine;

// The status window ("Control Panel"). It is loaded hidden before any call and hosts the
// engine's channel side for the whole run: the channel table, the channel server on the
// engine's channel port, frame dispatch with Timerunk, and the transmit drain Timer4.
// Loading it (constructing it) empties senddata, resets the table and starts listening.
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

    // At the program's end: stops the timers and closes the server and its connections.
    void shutDown();

    // Whether the channel server is listening.
    bool isListening() const { return listening_; }

    // Characters moved over the modem since the last speed reading: the drain adds every
    // piece written, the modem receive path every block read.
    qint64 totaldata = 0;
    // When the modem connected; invalid until then.
    QDateTime t1;
    // The connection clock: 300 ms, running from the load.
    QTimer Timer1;

    // Sets the "Connected at : " line from t1.
    void ShowConnectedAt();
    QString connectedAtLine() const { return connectedAtLine_; }

private:
    Engine& engine_;
    // Declared in the order they depend on each other, so they are destroyed in reverse.
    TransmitQueue senddata_;
    ChannelTable table_;
    ChannelServer server_;
    FrameDispatcher dispatcher_;
    TransmitDrain drain_;
    bool listening_ = false;
    QString connectedAtLine_;
};

} // namespace tellaran
