#include "platform/virtualmodem.h"

#include "platform/modemcommandinterpreter.h"
#include "platform/modemescapedetector.h"
#include "platform/modemline.h"
#include "platform/modemlinesocket.h"
#include "platform/modempacer.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

namespace tellaran {

namespace {

// Bytes waiting for the computer, and bytes waiting for the line, are capped; past that
// the modem drops instead of growing without end.
constexpr qsizetype receiveCap = 16 * 1024 * 1024;
constexpr qsizetype transmitCap = 16 * 1024 * 1024;
// Incoming connections that have not yet said they are a call.
constexpr std::size_t maxKnocking = 8;
constexpr int knockTimeoutMs = 5000;

constexpr int comEventRxBufferFull = 1008;
constexpr int comEventTxFull = 1010;

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
    bool carrierDetect() const override { return m_carrier; }
    void setDtr(bool on) override;
    void setRts(bool) override {}

private:
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

    // Command state.
    void typeCommands(QByteArrayView bytes);
    void runCommandLine(const QByteArray& line);
    void dial(const QByteArray& dialString);
    void answer();
    void startTraining();
    void goOnline();
    void dropCall();

    // The line.
    void wireCall(ModemLineConnection* connection);
    void onIncoming(ModemLineConnection* connection);
    void onKnock(ModemLineConnection* connection);
    void forgetKnock(ModemLineConnection* connection);
    void closeKnocking();
    void ring();
    void readAnswerToken();
    void onCallReadyRead();
    void onCallDisconnected();
    void onCallUnreachable();

    // Data.
    void sendToLine(const QByteArray& bytes);
    void expireEscape();
    void armEscapeTimer();
    void queueForLine(const QByteArray& bytes);
    void pumpLine();
    void pullFromLine();
    qsizetype queuedForLine() const { return m_toLine.size() - m_toLineStart; }

    // The computer's side.
    void appendToHost(const QByteArray& bytes);
    void appendResult(ModemResult result);
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
    bool m_dtr = true;

    ModemLineListener* m_listener = nullptr;
    ModemLineConnection* m_call = nullptr;
    std::vector<QPointer<ModemLineConnection>> m_knocking;

    QByteArray m_toHost;
    QByteArray m_toLine;
    qsizetype m_toLineStart = 0;

    QTimer m_ringTimer;
    QTimer m_dialTimer;
    QTimer m_trainingTimer;
    QTimer m_pacerTimer;
    QTimer m_escapeTimer;

    std::vector<HostEvent> m_events;
    bool m_eventsPosted = false;
    // Raised by close(), so that nothing queued before reaches the computer afterwards.
    quint64 m_generation = 0;
    // Bytes were written since the output was last reported empty.
    bool m_drainOwed = false;
};

VirtualModem::VirtualModem(const VirtualModemOptions& options, QObject* parent)
    : SerialBackend(parent), m_options(options), m_lineAddress(parseModemLine(options.line))
{
    m_clock.start();
    m_pacer.setRate(std::max(0, options.lineRate));
    m_listener = new ModemLineListener(this);
    connect(m_listener, &ModemLineListener::incoming, this,
            [this](ModemLineConnection* connection) { onIncoming(connection); });

    for (QTimer* timer : {&m_dialTimer, &m_trainingTimer, &m_pacerTimer, &m_escapeTimer})
        timer->setSingleShot(true);
    m_pacerTimer.setTimerType(Qt::PreciseTimer);
    m_escapeTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_ringTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Ringing)
            ring();
    });
    connect(&m_dialTimer, &QTimer::timeout, this, [this] {
        if (m_state != State::Dialing)
            return;
        dropCall();
        appendResult(ModemResult::NoAnswer);
    });
    connect(&m_trainingTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Training)
            goOnline();
    });
    connect(&m_pacerTimer, &QTimer::timeout, this, [this] { pumpLine(); });
    connect(&m_escapeTimer, &QTimer::timeout, this, [this] {
        expireEscape();
        armEscapeTimer();
        checkDrained();
    });
}

VirtualModem::~VirtualModem()
{
    close();
}

bool VirtualModem::open(const SerialLineSettings& settings, QString* error)
{
    if (isOpen())
        return true;
    if (!m_options.line.trimmed().isEmpty()) {
        QString why;
        if (m_lineAddress.kind == ModemLineAddress::Kind::Invalid)
            why = QStringLiteral("\"%1\" is not a line: give host:port or a name of letters "
                                 "and digits")
                      .arg(m_options.line);
        else
            m_listener->listen(m_lineAddress, m_options.exchangeDir, &why);
        if (!m_listener->isListening()) {
            if (error)
                *error = QStringLiteral("virtual modem: %1").arg(why);
            return false;
        }
    }
    m_dtr = settings.dtrEnable;
    m_state = State::Idle;
    return true;
}

void VirtualModem::close()
{
    if (m_state == State::Closed)
        return;
    dropCall();
    closeKnocking();
    m_listener->close();
    m_state = State::Closed;
    m_carrier = false;
    m_toHost.clear();
    m_commands.clearCommandBuffer();
    m_events.clear();
    m_eventsPosted = false;
    m_drainOwed = false;
    ++m_generation;
}

void VirtualModem::write(const QByteArray& bytes)
{
    if (m_state == State::Closed || bytes.isEmpty())
        return;
    m_drainOwed = true;
    if (m_state == State::Online)
        sendToLine(bytes);
    else
        typeCommands(bytes);
    checkDrained();
}

QByteArray VirtualModem::readAll()
{
    QByteArray bytes = std::exchange(m_toHost, QByteArray());
    // Room again: take what the line holds back.
    pullFromLine();
    return bytes;
}

qint64 VirtualModem::outputPending() const
{
    if (!m_call || !hasConnection())
        return 0;
    return queuedForLine() + m_escape.heldCount() + m_call->bytesToWrite();
}

void VirtualModem::setDtr(bool on)
{
    const bool dropped = m_dtr && !on;
    m_dtr = on;
    if (!dropped)
        return;
    // Dropping DTR hangs up whatever call there is.
    switch (m_state) {
    case State::Closed:
    case State::Idle:
        return;
    case State::Ringing:
        dropCall();
        return;
    case State::Dialing:
    case State::Training:
    case State::Online:
    case State::OnlineCommand:
        appendResult(ModemResult::NoCarrier);
        dropCall();
        return;
    }
}

// ---- command state -------------------------------------------------------------------

void VirtualModem::typeCommands(QByteArrayView bytes)
{
    // What follows a line that took the modem online (usually its line feed) is dropped with
    // the rest of the write.
    while (!bytes.isEmpty() && m_state != State::Closed && m_state != State::Online) {
        QByteArray echo;
        std::optional<QByteArray> line;
        const qsizetype taken = m_commands.type(bytes, echo, line);
        bytes = bytes.sliced(taken);
        appendToHost(echo);
        if (line)
            runCommandLine(*line);
    }
}

void VirtualModem::runCommandLine(const QByteArray& line)
{
    if (m_state == State::Dialing) {
        // A command line while dialing abandons the call, as a key press does.
        dropCall();
        appendResult(ModemResult::NoCarrier);
        return;
    }
    // The call is answered already; an "ATA" the computer sends on RING must not undo it.
    if (m_state == State::Training)
        return;
    const ModemCommandOutcome outcome = m_commands.execute(line);
    if (outcome.hangUp)
        dropCall();
    appendToHost(outcome.information);
    switch (outcome.call) {
    case ModemCommandOutcome::Call::None:
        appendResult(outcome.error ? ModemResult::Error : ModemResult::Ok);
        return;
    case ModemCommandOutcome::Call::Dial:
        if (m_state == State::Idle)
            dial(outcome.dialString);
        else
            appendResult(ModemResult::Error);
        return;
    case ModemCommandOutcome::Call::Answer:
        if (m_state == State::Ringing)
            answer();
        else
            appendResult(m_state == State::Idle ? ModemResult::NoCarrier : ModemResult::Error);
        return;
    case ModemCommandOutcome::Call::GoOnline:
        if (m_state == State::OnlineCommand)
            goOnline();
        else
            appendResult(ModemResult::NoCarrier);
        return;
    }
}

void VirtualModem::dial(const QByteArray& dialString)
{
    if (dialString.isEmpty()) {
        appendResult(ModemResult::Error);
        return;
    }
    const ModemLineAddress address = parseDialString(dialString);
    if (address.kind == ModemLineAddress::Kind::Invalid) {
        // No line can have such a number.
        appendResult(ModemResult::NoAnswer);
        return;
    }
    if (address.isExchange() && !prepareExchangeDir(m_options.exchangeDir, nullptr)) {
        appendResult(ModemResult::NoDialTone);
        return;
    }
    m_state = State::Dialing;
    m_dialTimer.start(std::max(1, m_commands.sRegister(ModemCommandInterpreter::carrierWait)) *
                      1000);
    m_call = ModemLineConnection::create(address, m_options.exchangeDir, this);
    wireCall(m_call);
    ModemLineConnection* call = m_call;
    connect(call, &ModemLineConnection::connected, this, [this, call] {
        if (call == m_call && m_state == State::Dialing)
            call->device()->write(ModemHandshake::call);
    });
    call->start();
}

void VirtualModem::answer()
{
    m_ringTimer.stop();
    m_call->device()->write(ModemHandshake::answer);
    startTraining();
}

void VirtualModem::startTraining()
{
    m_dialTimer.stop();
    m_state = State::Training;
    m_trainingTimer.start(std::max(0, m_options.trainingDelayMs));
}

void VirtualModem::goOnline()
{
    m_commands.clearCommandBuffer();
    m_state = State::Online;
    appendToHost(m_commands.resultText(ModemResult::Connect, std::max(0, m_options.lineRate)));
    if (!m_carrier) {
        m_carrier = true;
        post(HostEvent::CarrierUp);
    }
    const int guardMs = m_commands.sRegister(ModemCommandInterpreter::guardTime) * 20;
    m_escape.restart(m_clock.elapsed(), guardMs,
                     m_commands.sRegister(ModemCommandInterpreter::escapeChar));
    m_pacer.restart(m_clock.nsecsElapsed());
    pumpLine();
    pullFromLine();
}

// Ends whatever call there is: the connection closes (what is already on the line still
// arrives), ringing and timers stop, bytes not yet on the line are dropped, carrier falls.
void VirtualModem::dropCall()
{
    if (m_call) {
        m_call->hangUp();
        m_call = nullptr;
    }
    m_ringTimer.stop();
    m_dialTimer.stop();
    m_trainingTimer.stop();
    m_pacerTimer.stop();
    m_escapeTimer.stop();
    m_toLine.clear();
    m_toLineStart = 0;
    m_escape.restart(m_clock.elapsed(), 0, -1);
    m_commands.setSRegister(ModemCommandInterpreter::ringCount, 0);
    if (m_state != State::Closed)
        m_state = State::Idle;
    if (m_carrier) {
        m_carrier = false;
        post(HostEvent::CarrierDown);
    }
    checkDrained();
}

// ---- the line ----------------------------------------------------------------------------

void VirtualModem::wireCall(ModemLineConnection* connection)
{
    connect(connection, &ModemLineConnection::readyRead, this, [this, connection] {
        if (connection == m_call)
            onCallReadyRead();
    });
    connect(connection, &ModemLineConnection::bytesWritten, this, [this, connection] {
        if (connection == m_call)
            checkDrained();
    });
    connect(connection, &ModemLineConnection::disconnected, this, [this, connection] {
        if (connection == m_call)
            onCallDisconnected();
    });
    connect(connection, &ModemLineConnection::unreachable, this, [this, connection] {
        if (connection == m_call)
            onCallUnreachable();
    });
}

void VirtualModem::onIncoming(ModemLineConnection* connection)
{
    if (m_state == State::Closed || m_knocking.size() >= maxKnocking) {
        connection->abort();
        return;
    }
    connection->setParent(this);
    m_knocking.emplace_back(connection);
    connect(connection, &ModemLineConnection::readyRead, this,
            [this, connection] { onKnock(connection); });
    connect(connection, &ModemLineConnection::disconnected, this, [this, connection] {
        forgetKnock(connection);
        connection->abort();
    });
    // One that never says it is a call is sent away.
    QTimer::singleShot(knockTimeoutMs, connection, [this, connection] {
        const bool knocking = std::any_of(m_knocking.begin(), m_knocking.end(),
                                          [connection](const auto& k) { return k == connection; });
        if (!knocking)
            return;
        forgetKnock(connection);
        connection->abort();
    });
}

void VirtualModem::onKnock(ModemLineConnection* connection)
{
    QIODevice* io = connection->device();
    if (!io->canReadLine()) {
        if (io->bytesAvailable() >= ModemHandshake::maxTokenLength) {
            forgetKnock(connection);
            connection->abort();
        }
        return;
    }
    const QByteArray token = io->readLine(ModemHandshake::maxTokenLength + 1);
    forgetKnock(connection);
    QObject::disconnect(connection, nullptr, this, nullptr);
    if (token != ModemHandshake::call) {
        connection->abort();
        return;
    }
    if (m_state != State::Idle) {
        io->write(ModemHandshake::busy);
        connection->hangUp();
        return;
    }
    m_call = connection;
    wireCall(connection);
    m_state = State::Ringing;
    m_commands.setSRegister(ModemCommandInterpreter::ringCount, 0);
    m_ringTimer.start(std::max(1, m_options.ringIntervalMs));
    ring();
}

void VirtualModem::forgetKnock(ModemLineConnection* connection)
{
    std::erase_if(m_knocking, [connection](const auto& k) { return !k || k == connection; });
}

void VirtualModem::closeKnocking()
{
    for (const QPointer<ModemLineConnection>& connection : std::exchange(m_knocking, {})) {
        if (connection)
            connection->abort();
    }
}

void VirtualModem::ring()
{
    const int rings = m_commands.sRegister(ModemCommandInterpreter::ringCount) + 1;
    m_commands.setSRegister(ModemCommandInterpreter::ringCount, rings);
    appendResult(ModemResult::Ring);
    const int answerAfter = m_commands.sRegister(ModemCommandInterpreter::autoAnswerRings);
    if (answerAfter > 0 && rings >= answerAfter)
        answer();
}

// The caller's side of the set-up: the callee answers, or says it is busy.
void VirtualModem::readAnswerToken()
{
    QIODevice* io = m_call->device();
    if (!io->canReadLine()) {
        if (io->bytesAvailable() >= ModemHandshake::maxTokenLength) {
            dropCall();
            appendResult(ModemResult::NoCarrier);
        }
        return;
    }
    const QByteArray token = io->readLine(ModemHandshake::maxTokenLength + 1);
    if (token == ModemHandshake::answer) {
        startTraining();
    } else {
        dropCall();
        appendResult(token == ModemHandshake::busy ? ModemResult::Busy : ModemResult::NoCarrier);
    }
}

void VirtualModem::onCallReadyRead()
{
    if (m_state == State::Dialing)
        readAnswerToken();
    else if (m_state == State::Online)
        pullFromLine();
    // Otherwise the bytes wait in the connection until the modem is online.
}

void VirtualModem::onCallDisconnected()
{
    switch (m_state) {
    case State::Closed:
    case State::Idle:
        return;
    case State::Ringing:
        // The caller gave up: the ringing just stops.
        dropCall();
        return;
    case State::Dialing:
        readAnswerToken();
        if (m_state == State::Idle)
            return;
        break;
    case State::Online:
        pullFromLine();
        break;
    case State::Training:
    case State::OnlineCommand:
        break;
    }
    appendResult(ModemResult::NoCarrier);
    dropCall();
}

void VirtualModem::onCallUnreachable()
{
    if (m_state != State::Dialing)
        return;
    dropCall();
    appendResult(ModemResult::NoAnswer);
}

// ---- data --------------------------------------------------------------------------------

void VirtualModem::sendToLine(const QByteArray& bytes)
{
    // An escape that is due is decided before the new bytes, which may be commands then.
    expireEscape();
    if (m_state != State::Online) {
        typeCommands(bytes);
        return;
    }
    queueForLine(m_escape.feed(bytes, m_clock.elapsed()));
    armEscapeTimer();
}

void VirtualModem::expireEscape()
{
    if (m_state != State::Online)
        return;
    QByteArray release;
    switch (m_escape.expire(m_clock.elapsed(), release)) {
    case ModemEscapeDetector::Expiry::Nothing:
        return;
    case ModemEscapeDetector::Expiry::Release:
        queueForLine(release);
        return;
    case ModemEscapeDetector::Expiry::Escape:
        m_state = State::OnlineCommand;
        appendResult(ModemResult::Ok);
        return;
    }
}

void VirtualModem::armEscapeTimer()
{
    const qint64 deadline = m_escape.deadline();
    if (m_state != State::Online || deadline < 0) {
        m_escapeTimer.stop();
        return;
    }
    m_escapeTimer.start(static_cast<int>(std::max<qint64>(0, deadline - m_clock.elapsed())));
}

void VirtualModem::queueForLine(const QByteArray& bytes)
{
    if (bytes.isEmpty() || !m_call)
        return;
    if (!m_pacer.paced()) {
        // Unpaced: straight into the connection, whose backlog counts as pending.
        if (m_call->bytesToWrite() + bytes.size() > transmitCap) {
            post(HostEvent::OutputFull);
            return;
        }
        m_call->device()->write(bytes);
        return;
    }
    if (queuedForLine() + bytes.size() > transmitCap) {
        post(HostEvent::OutputFull);
        return;
    }
    m_toLine.append(bytes);
    if (!m_pacerTimer.isActive())
        pumpLine();
}

void VirtualModem::pumpLine()
{
    if (!m_call || !hasConnection() || queuedForLine() == 0)
        return;
    const qint64 allowed = m_pacer.available(m_clock.nsecsElapsed());
    const qint64 count = std::min<qint64>(queuedForLine(), allowed);
    if (count > 0) {
        m_call->device()->write(m_toLine.constData() + m_toLineStart, count);
        m_pacer.consume(count);
        m_toLineStart += count;
    }
    if (queuedForLine() == 0) {
        m_toLine.clear();
        m_toLineStart = 0;
        checkDrained();
        return;
    }
    if (m_toLineStart > 65536 && m_toLineStart > m_toLine.size() / 2) {
        m_toLine.remove(0, m_toLineStart);
        m_toLineStart = 0;
    }
    const qint64 waitNs =
        m_pacer.nsUntilAvailable(std::min<qint64>(queuedForLine(), m_pacer.preferredPiece()));
    m_pacerTimer.start(static_cast<int>(std::max<qint64>(1, (waitNs + 999'999) / 1'000'000)));
}

void VirtualModem::pullFromLine()
{
    if (!m_call || m_state != State::Online)
        return;
    QIODevice* io = m_call->device();
    const qsizetype before = m_toHost.size();
    while (m_toHost.size() < receiveCap) {
        const qint64 available = io->bytesAvailable();
        if (available <= 0)
            break;
        const QByteArray chunk =
            io->read(std::min<qint64>(available, receiveCap - m_toHost.size()));
        if (chunk.isEmpty())
            break;
        m_toHost += chunk;
    }
    if (m_toHost.size() != before)
        post(HostEvent::Data);
}

// ---- the computer's side -----------------------------------------------------------------

void VirtualModem::appendToHost(const QByteArray& bytes)
{
    if (bytes.isEmpty() || m_state == State::Closed)
        return;
    if (m_toHost.size() + bytes.size() > receiveCap) {
        post(HostEvent::InputFull);
        return;
    }
    m_toHost += bytes;
    post(HostEvent::Data);
}

void VirtualModem::appendResult(ModemResult result)
{
    appendToHost(m_commands.resultText(result));
}

// Everything the computer is told arrives from the event loop, never from inside one of
// its own calls (write, setDtr), and in the order it happened.
void VirtualModem::post(HostEvent event)
{
    if (m_state == State::Closed)
        return;
    // Repeats of the same news coalesce; carrier changes are each reported.
    if (event != HostEvent::CarrierUp && event != HostEvent::CarrierDown && !m_events.empty() &&
        m_events.back() == event)
        return;
    m_events.push_back(event);
    if (m_eventsPosted)
        return;
    m_eventsPosted = true;
    QMetaObject::invokeMethod(
        this, [this, generation = m_generation] { deliverEvents(generation); },
        Qt::QueuedConnection);
}

void VirtualModem::deliverEvents(quint64 generation)
{
    if (generation != m_generation)
        return;
    m_eventsPosted = false;
    // Taken one at a time from the queue itself: when a handler runs a nested event loop,
    // the delivery posted meanwhile goes on with the rest in order, so a carrier that fell
    // while a box was open is not reported as rising afterwards. At most what is queued now:
    // news a handler causes waits for the delivery it posted.
    const QPointer<VirtualModem> self(this);
    for (std::size_t count = m_events.size(); count > 0 && !m_events.empty(); --count) {
        const HostEvent event = m_events.front();
        m_events.erase(m_events.begin());
        switch (event) {
        case HostEvent::Data:
            if (!m_toHost.isEmpty())
                Q_EMIT readyRead();
            break;
        case HostEvent::CarrierUp:
            Q_EMIT carrierChanged(true);
            break;
        case HostEvent::CarrierDown:
            Q_EMIT carrierChanged(false);
            break;
        case HostEvent::Drained:
            if (outputPending() == 0)
                Q_EMIT outputDrained();
            break;
        case HostEvent::InputFull:
            Q_EMIT lineError(comEventRxBufferFull);
            break;
        case HostEvent::OutputFull:
            Q_EMIT lineError(comEventTxFull);
            break;
        }
        // A handler may close the port or delete the modem (or run a nested loop that does).
        if (!self || generation != m_generation)
            return;
    }
}

void VirtualModem::checkDrained()
{
    if (m_drainOwed && outputPending() == 0) {
        m_drainOwed = false;
        post(HostEvent::Drained);
    }
}

} // namespace

std::unique_ptr<SerialBackend> createVirtualModem(const VirtualModemOptions& options,
                                                  QObject* parent)
{
    return std::make_unique<VirtualModem>(options, parent);
}

} // namespace tellaran
