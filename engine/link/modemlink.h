#pragma once

#include "engine/link/linkframecheck.h"
#include "engine/link/modeminputsplitter.h"
#include "engine/link/modemreplytracker.h"
#include "engine/link/modemresult.h"
#include "platform/serialport.h"
#include "platform/socket.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>

namespace tellaran {

class Engine;
struct SettingsRecord;

// The modem side of the engine: the serial port MSComm1 with everything that arrives on
// it, and the engine's own client Winsock1, through which link frames received from the
// other computer go to this engine's channel server as relay frames.
//
// Load() is the start-up: connect Winsock1, configure the port from the settings and send
// the modem its initialisation commands, each after the reply to the one before. OnComm
// handles the port's events: received bytes are cut into lines or link frames
// (HandleModemLine), carrier detect puts the engine into connected mode or ends it; so does
// the modem's own word, CONNECT or NO CARRIER. HangUp() ends a call even where DTR does not.
//
// The start-up and the hang-up wait for the modem in the event loop; meanwhile the modem's
// lines are theirs alone. Boxes about a call are opened from the event loop, never from
// inside the line handling, so the modem is heard while one is open.
class ModemLink : public QObject
{
    Q_OBJECT
public:
    // How long the hang-up waits at each step.
    struct HangUpTimes
    {
        // For carrier detect to go off once DTR has dropped.
        int carrierMs = 1000;
        // The silence before and after the escape: a little over the second a modem's
        // S12 asks for by default, so that timer jitter never makes it too short.
        int guardMs = 1100;
        // For the reply to the escape (after the guard time) and to "ATH".
        int replyMs = 2000;
    };
    static constexpr int DefaultReplyTimeoutMs = 2000;

    ModemLink(Engine& engine, SerialEnvironment environment, QObject* parent = nullptr);
    ~ModemLink() override;

    // The start-up of the modem window.
    void Load();
    // The start-up commands the modem answered with ERROR or not at all, in order.
    const QByteArrayList& startUpRefusals() const { return startUpRefusals_; }
    // How long a start-up command waits for its reply.
    void setReplyTimeout(int milliseconds) { replyTimeoutMs_ = milliseconds; }

    // Writes the answer or dial command, after throwing away what waited in the port and
    // the carry-over buffer: only what the modem says to this command is its result.
    void writeCallCommand(const QByteArray& command);

    // Hangs up and closes the port. DTR drops; when carrier detect stays on for a second,
    // or cannot tell, and the modem may be online: guard time, "+++", guard time; then
    // "ATH" and its "OK", at most two seconds. Each step is logged. Nothing else is done
    // with the modem's lines meanwhile, and the call is over for the rest of the engine.
    void HangUp();
    bool isHangingUp() const { return hangingUp_; }
    void setHangUpTimes(const HangUpTimes& times) { hangUpTimes_ = times; }

    SerialPort MSComm1;
    Socket Winsock1;
    // Whether the call is up.
    bool Connected = false;

    // Acts on one line or link frame cut from the modem input. May empty it.
    void HandleModemLine(QByteArray& line);

    // The program ends: hangs up (see HangUp), then closes Winsock1; no more event handling.
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
    void showCallFailure(const QString& text, quint64 callsUp);
    void showLineErrorLater(const QString& text);
    // The call came up: a failure shown or about to be shown no longer applies.
    void callCameUp();
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
    // Writes a command (the line end added when `lineEnd`) and expects its reply.
    void writeCommand(const QByteArray& command, bool lineEnd = true, bool echoed = true);
    // Waits for the reply to the command written last, at most `milliseconds`.
    std::optional<ModemResultCode> awaitReply(int milliseconds);
    // Waits in the event loop until `done` holds or the time is up; returns false then, or
    // when this link was destroyed meanwhile (the caller must check before going on).
    bool waitUntil(int milliseconds, const std::function<bool()>& done);
    void closeDown();

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

    // Which command the modem's OK or ERROR answers, and the last such reply.
    ModemReplyTracker replies_;
    std::optional<ModemResultCode> reply_;
    int replyTimeoutMs_ = DefaultReplyTimeoutMs;
    QByteArrayList startUpRefusals_;
    bool startingUp_ = false;
    bool hangingUp_ = false;
    HangUpTimes hangUpTimes_;
    // Whether the modem may be in a call (a call command went out, or it connected) that it
    // has not reported ended: only then can the escape be needed.
    bool mayBeOnline_ = false;
    // Carrier detect went on during this run: once a call came up, carrier detect that never
    // did cannot be trusted to show the hang-up.
    bool carrierSeenOn_ = false;
    bool callWasUp_ = false;
    // Counts the calls that came up, so that a failure box knows it no longer applies.
    quint64 callsUp_ = 0;
    // Line-error boxes open or about to open, so that a burst of errors shows one of each.
    QStringList lineErrorBoxes_;
    QByteArray pendingRelay_;
    qsizetype relayCap_;
    QTimer reconnectTimer_;
    QTimer stalledFrameTimer_;
    bool shutDown_ = false;
};

} // namespace tellaran
