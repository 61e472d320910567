#pragma once

#include "engine/link/linkframecheck.h"
#include "engine/link/modeminputsplitter.h"
#include "platform/serialport.h"
#include "platform/socket.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <deque>

namespace tellaran {

class Engine;
struct SettingsRecord;

// The modem side of the engine: the serial port MSComm1 with everything that arrives on
// it, and the engine's own client Winsock1, through which link frames received from the
// other computer go to this engine's channel server as relay frames.
//
// Load() is the start-up: connect Winsock1, configure the port from the settings and send
// the modem its initialisation commands. OnComm handles the port's events: received bytes
// are cut into lines or link frames (HandleModemLine), carrier detect puts the engine into
// connected mode or ends it; so does the modem's own word, CONNECT or NO CARRIER.
class ModemLink : public QObject
{
    Q_OBJECT
public:
    ModemLink(Engine& engine, SerialEnvironment environment, QObject* parent = nullptr);
    ~ModemLink() override;

    // The start-up of the modem window.
    void Load();

    SerialPort MSComm1;
    Socket Winsock1;
    // Whether the call is up.
    bool Connected = false;

    // Acts on one line or link frame cut from the modem input. May empty it.
    void HandleModemLine(QByteArray& line);

    // Closes the port and Winsock1 without any of the event handling (the program ends).
    void shutDown();

    // Damaged link frames dropped in this call.
    int droppedFrames() const { return frameCheck_.droppedFrames(); }

    // Relay frames waiting for Winsock1 to connect, in bytes.
    qsizetype pendingRelayBytes() const { return pendingRelay_.size(); }
    void setRelayCap(qsizetype cap) { relayCap_ = cap; }
    // How long a closed or failed Winsock1 waits before connecting again.
    void setReconnectDelay(int milliseconds) { reconnectTimer_.setInterval(milliseconds); }
    // How long an unfinished frame that ends in a "NO CARRIER" line must stay silent before
    // the call is taken as ended.
    void setStalledFrameDelay(int milliseconds) { stalledFrameTimer_.setInterval(milliseconds); }

Q_SIGNALS:
    // A received block is being handled (the incoming-activity picture shows meanwhile).
    void receiveStarted();
    void receiveFinished();

private:
    void OnComm();
    void receive();
    void carrierUp();
    void carrierLost();
    void connectOnResult();
    void callFailed(const QString& text);
    void watchForHangUp();
    void handleQueuedLines();
    void relayCheckedFrame(const QByteArray& line);
    void reportDroppedFrames();
    void sendRelayFrame(const QByteArray& modemLine);
    void connectWinsock();
    void onWinsockConnected();
    void onWinsockDown();
    void configurePort(const SettingsRecord& settings);
    void sendInitialisationCommands(const SettingsRecord& settings);
    void sendCommand(const QByteArray& command);

    Engine& engine_;
    // Form1's UseString: the carry-over buffer of the modem input.
    ModemInputSplitter UseString;
    LinkFrameCheck frameCheck_;
    int droppedReported_ = 0;
    qsizetype lastDroppedSize_ = 0;
    QTimer dropReportTimer_;
    // Lines cut but not handled yet. A line's handling may show a box, in which more input
    // arrives; queuing keeps the lines in the order the modem sent them.
    std::deque<QByteArray> lines_;
    bool handlingLines_ = false;
    bool carrierLostHandled_ = false;
    QByteArray pendingRelay_;
    qsizetype relayCap_;
    QTimer reconnectTimer_;
    QTimer stalledFrameTimer_;
    bool shutDown_ = false;
};

} // namespace tellaran
