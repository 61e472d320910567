#pragma once

// The virtual modem's class, shared by the files that implement it: virtualmodem.cpp (the
// computer's side and command state), virtualmodemcallsetup.cpp (dialing, answering, going
// online and hanging up), virtualmodemringing.cpp (incoming calls, rings and caller ID) and
// virtualmodemdatapath.cpp (bytes on the line while online).

#include "platform/modemcommandinterpreter.h"
#include "platform/modemescapedetector.h"
#include "platform/modemline.h"
#include "platform/modemlinesocket.h"
#include "platform/modempacer.h"
#include "platform/serialbackend.h"
#include "platform/virtualmodem.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <vector>

namespace tellaran {

class VirtualModem final : public SerialBackend
{
public:
    VirtualModem(const VirtualModemOptions& options, QObject* parent);
    ~VirtualModem() override;

    bool open(const SerialLineSettings& settings, QString* error) override;
    void close() override;
    bool isOpen() const override { return m_state != State::Closed; }
    void write(const QByteArray& bytes) override;
    QByteArray readAll() override;
    qint64 bytesAvailable() const override { return m_toHost.size(); }
    qint64 outputPending() const override;
    // With &C0 it is on whenever the port is open; otherwise it follows the carrier.
    bool carrierDetect() const override
    {
        return m_state != State::Closed && (m_carrier || m_commands.carrierDetectAlwaysOn());
    }
    void setDtr(bool on) override;
    void setRts(bool) override {}

private:
    // Bytes waiting for the computer, and bytes waiting for the line, are capped; past that
    // the modem drops instead of growing without end.
    static constexpr qsizetype receiveCap = 16 * 1024 * 1024;
    static constexpr qsizetype transmitCap = 16 * 1024 * 1024;
    // Incoming connections that have not yet said they are a call.
    static constexpr std::size_t maxKnocking = 8;
    static constexpr int knockTimeoutMs = 5000;

    enum class State
    {
        Closed,
        Idle,          // command state, no call
        Dialing,       // calling out, waiting for the answer
        Ringing,       // a call comes in
        Training,      // answered, CONNECT follows
        Online,        // data passes
        OnlineCommand, // escaped to command state, the call is kept
    };
    enum class HostEvent
    {
        Data,
        CarrierUp,
        CarrierDown,
        Drained,
        InputFull,  // bytes for the computer were dropped
        OutputFull, // bytes for the line were dropped
    };

    bool hasConnection() const
    {
        return m_state == State::Online || m_state == State::OnlineCommand;
    }

    // Command state (virtualmodem.cpp).
    void typeCommands(QByteArrayView bytes);
    void runCommandLine(const QByteArray& line);

    // Calls (virtualmodemcallsetup.cpp).
    void dial(const QByteArray& dialString);
    void dialTestLine(ModemTestLine line);
    void answer();
    void startTraining();
    void goOnline();
    void dropCall();
    void setCarrier(bool on);
    void wireCall(ModemLineConnection* connection);
    void readAnswerToken();
    void onCallReadyRead();
    void onCallDisconnected();
    void onCallUnreachable();

    // Incoming calls (virtualmodemringing.cpp).
    void onIncoming(ModemLineConnection* connection);
    void onKnock(ModemLineConnection* connection);
    void forgetKnock(ModemLineConnection* connection);
    void closeKnocking();
    void ring();
    void readCallerLine();
    void sendCallerId();

    // Data (virtualmodemdatapath.cpp).
    void sendToLine(const QByteArray& bytes);
    void expireEscape();
    void armEscapeTimer();
    void queueForLine(const QByteArray& bytes);
    void pumpLine();
    void pullFromLine();
    qsizetype queuedForLine() const { return m_toLine.size() - m_toLineStart; }

    // The computer's side (virtualmodem.cpp).
    void appendToHost(const QByteArray& bytes);
    // What the modem says goes out at once, or, behind a late reply, in its turn.
    void sayToHost(const QByteArray& bytes);
    void deliverLateReplies();
    void appendResult(ModemResult result);
    // Tells the computer when carrier detect changed since it was last told.
    void reportCarrierDetect();
    void post(HostEvent event);
    void deliverEvents(quint64 generation);
    void checkDrained();

    VirtualModemOptions m_options;
    ModemLineAddress m_lineAddress;
    ModemCommandInterpreter m_commands;
    ModemEscapeDetector m_escape;
    ModemPacer m_pacer;
    QElapsedTimer m_clock;

    State m_state = State::Closed;
    bool m_carrier = false;
    // Carrier detect as the computer was last told it.
    bool m_reportedCarrierDetect = false;
    bool m_dtr = true;

    ModemLineListener* m_listener = nullptr;
    ModemLineConnection* m_call = nullptr;
    std::vector<QPointer<ModemLineConnection>> m_knocking;

    // Who calls, as the caller said (an incoming call).
    QByteArray m_callerNumber;
    QByteArray m_callerName;
    bool m_callerLineRead = false;
    bool m_callerIdSent = false;

    QByteArray m_toHost;
    QByteArray m_toLine;
    qsizetype m_toLineStart = 0;

    QTimer m_ringTimer;
    QTimer m_progressTimer;
    QTimer m_dialTimer;
    QTimer m_trainingTimer;
    QTimer m_pacerTimer;
    QTimer m_escapeTimer;
    QTimer m_lateReplyTimer;

    // Replies not yet said, due at m_clock times; they outlive a closed port, as a modem's
    // work does, and are lost if it is closed when they come due.
    struct LateReply
    {
        qint64 dueMs;
        QByteArray bytes;
    };
    std::vector<LateReply> m_lateReplies;
    // While a command line runs: when its reply is due, or -1.
    qint64 m_replyDueMs = -1;

    std::vector<HostEvent> m_events;
    bool m_eventsPosted = false;
    // Raised by close(), so that nothing queued before reaches the computer afterwards.
    quint64 m_generation = 0;
    // Bytes were written since the output was last reported empty.
    bool m_drainOwed = false;
};

} // namespace tellaran
