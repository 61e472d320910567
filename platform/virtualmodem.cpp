// The virtual modem as the computer sees it: opening and closing, the command state, and
// everything it tells the computer.
#include "platform/virtualmodemprivate.h"

#include <QScopeGuard>

#include <algorithm>
#include <utility>

namespace tellaran {

namespace {

constexpr int comEventRxBufferFull = 1008;
constexpr int comEventTxFull = 1010;

} // namespace

VirtualModem::VirtualModem(const VirtualModemOptions& options, QObject* parent)
    : SerialBackend(parent), m_options(options), m_lineAddress(parseModemLine(options.line))
{
    m_clock.start();
    m_pacer.setRate(std::max(0, options.lineRate));
    m_commands.setRejectedCommands(options.rejectedCommands);
    m_commands.setPowerUpIgnoresDtr(options.ignoreDtr);
    m_listener = new ModemLineListener(this);
    connect(m_listener, &ModemLineListener::incoming, this,
            [this](ModemLineConnection* connection) { onIncoming(connection); });

    for (QTimer* timer :
         {&m_dialTimer, &m_trainingTimer, &m_pacerTimer, &m_escapeTimer, &m_lateReplyTimer})
        timer->setSingleShot(true);
    m_lateReplyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_lateReplyTimer, &QTimer::timeout, this, [this] { deliverLateReplies(); });
    m_pacerTimer.setTimerType(Qt::PreciseTimer);
    m_escapeTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_ringTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Ringing)
            ring();
    });
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Dialing)
            appendResult(ModemResult::Ringing);
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
    // The port reads carrier detect as it opens; only changes from here on are events.
    m_reportedCarrierDetect = carrierDetect();
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
    m_reportedCarrierDetect = false;
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
    // &D0: as if the line were not there.
    if (!dropped || m_commands.ignoresDtr())
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
        sayToHost(echo);
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
    // Everything this line makes the modem say comes after the reply delay.
    const qint64 previousDue = std::exchange(
        m_replyDueMs, m_options.replyDelayMs > 0 ? m_clock.elapsed() + m_options.replyDelayMs : -1);
    const auto restore = qScopeGuard([this, previousDue] { m_replyDueMs = previousDue; });
    const ModemCommandOutcome outcome = m_commands.execute(line);
    if (outcome.hangUp)
        dropCall();
    // &C, or the factory settings, may have changed what carrier detect shows.
    reportCarrierDetect();
    sayToHost(outcome.information);
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
    sayToHost(m_commands.resultText(result));
}

void VirtualModem::sayToHost(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 behind = m_lateReplies.empty() ? -1 : m_lateReplies.back().dueMs;
    const qint64 due = std::max(m_replyDueMs, behind);
    if (due < 0) {
        appendToHost(bytes);
        return;
    }
    if (!m_lateReplies.empty() && m_lateReplies.back().dueMs == due)
        m_lateReplies.back().bytes += bytes;
    else
        m_lateReplies.push_back(LateReply{due, bytes});
    if (!m_lateReplyTimer.isActive())
        m_lateReplyTimer.start(
            int(std::max<qint64>(0, m_lateReplies.front().dueMs - m_clock.elapsed())));
}

void VirtualModem::deliverLateReplies()
{
    const qint64 now = m_clock.elapsed();
    while (!m_lateReplies.empty() && m_lateReplies.front().dueMs <= now) {
        const QByteArray bytes = std::move(m_lateReplies.front().bytes);
        m_lateReplies.erase(m_lateReplies.begin());
        appendToHost(bytes);
    }
    if (!m_lateReplies.empty()) {
        m_lateReplyTimer.start(int(m_lateReplies.front().dueMs - now));
        return;
    }
    // The line's bytes waited behind the replies.
    pullFromLine();
}

void VirtualModem::reportCarrierDetect()
{
    const bool now = carrierDetect();
    if (now == m_reportedCarrierDetect)
        return;
    m_reportedCarrierDetect = now;
    post(now ? HostEvent::CarrierUp : HostEvent::CarrierDown);
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

std::unique_ptr<SerialBackend> createVirtualModem(const VirtualModemOptions& options,
                                                  QObject* parent)
{
    return std::make_unique<VirtualModem>(options, parent);
}

} // namespace tellaran
