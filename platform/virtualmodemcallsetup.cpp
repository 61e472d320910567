// The virtual modem's calls: dialing (a line or a test line), answering, training, going
// online and hanging up, and the caller's side of the set-up on the line.
#include "platform/virtualmodemprivate.h"

#include "platform/logging.h"
#include "platform/troubleshootinglog.h"

#include <QIODevice>

#include <algorithm>

namespace tellaran {

void VirtualModem::dial(const QByteArray& dialString)
{
    if (dialString.isEmpty()) {
        appendResult(ModemResult::Error);
        return;
    }
    qCDebug(lcVmodem).noquote() << "line" << m_options.line << "dials"
                                << troubleshooting::printable(dialString);
    const ModemTestLine testLine = parseTestLine(dialString);
    if (testLine != ModemTestLine::None) {
        dialTestLine(testLine);
        return;
    }
    const ModemLineAddress address = parseDialString(dialString);
    if (address.kind == ModemLineAddress::Kind::Invalid) {
        // No line can have such a number.
        qCDebug(lcVmodem) << "no line can have that number";
        appendResult(ModemResult::NoAnswer);
        return;
    }
    if (address.isExchange() && !prepareExchangeDir(m_options.exchangeDir, nullptr)) {
        qCDebug(lcVmodem).noquote() << "no usable exchange folder" << m_options.exchangeDir;
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
        if (call != m_call || m_state != State::Dialing)
            return;
        call->device()->write(ModemHandshake::call);
        call->device()->write(
            ModemHandshake::callerLine(m_options.line.toLatin1(), m_commands.callerName()));
    });
    call->start();
}

// A test line has no other end: it answers at once, or rings, or keeps silent.
void VirtualModem::dialTestLine(ModemTestLine line)
{
    switch (line) {
    case ModemTestLine::None:
        return;
    case ModemTestLine::Busy:
        appendResult(ModemResult::Busy);
        return;
    case ModemTestLine::NoAnswer:
        appendResult(ModemResult::NoAnswer);
        return;
    case ModemTestLine::NoCarrier:
        appendResult(ModemResult::NoCarrier);
        return;
    case ModemTestLine::NoDialTone:
        appendResult(ModemResult::NoDialToneOneWord);
        return;
    case ModemTestLine::Error:
        appendResult(ModemResult::Error);
        return;
    case ModemTestLine::Delayed:
        appendResult(ModemResult::Delayed);
        return;
    case ModemTestLine::Blacklisted:
        appendResult(ModemResult::Blacklisted);
        return;
    case ModemTestLine::Voice:
        appendResult(ModemResult::Voice);
        return;
    case ModemTestLine::Silent:
        // Dialing for ever: only a command, dropping DTR or closing the port ends it.
        m_state = State::Dialing;
        return;
    case ModemTestLine::Ringing:
        m_state = State::Dialing;
        m_dialTimer.start(std::max(1, m_commands.sRegister(ModemCommandInterpreter::carrierWait)) *
                          1000);
        appendResult(ModemResult::Ringing);
        m_progressTimer.start(std::max(1, m_options.ringIntervalMs));
        return;
    }
}

void VirtualModem::answer()
{
    qCDebug(lcVmodem).noquote() << "line" << m_options.line << "answers the call";
    m_ringTimer.stop();
    m_call->device()->write(ModemHandshake::answer);
    startTraining();
}

void VirtualModem::startTraining()
{
    m_dialTimer.stop();
    m_progressTimer.stop();
    m_state = State::Training;
    m_trainingTimer.start(std::max(0, m_options.trainingDelayMs));
}

void VirtualModem::goOnline()
{
    m_commands.clearCommandBuffer();
    m_state = State::Online;
    if (m_options.lineRate > 0)
        qCDebug(lcVmodem).noquote()
            << "line" << m_options.line << "is online at" << m_options.lineRate << "bit/s";
    else
        qCDebug(lcVmodem).noquote() << "line" << m_options.line << "is online, unpaced";
    sayToHost(m_commands.resultText(ModemResult::Connect, std::max(0, m_options.lineRate)));
    setCarrier(true);
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
        qCDebug(lcVmodem).noquote() << "line" << m_options.line << "hangs up";
        m_call->hangUp();
        m_call = nullptr;
    }
    m_ringTimer.stop();
    m_progressTimer.stop();
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
    setCarrier(false);
    checkDrained();
}

void VirtualModem::setCarrier(bool on)
{
    m_carrier = on;
    reportCarrierDetect();
}

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
        qCDebug(lcVmodem) << "the called line answers";
        startTraining();
    } else {
        qCDebug(lcVmodem) << (token == ModemHandshake::busy ? "the called line is busy"
                                                            : "the called line refused the call");
        dropCall();
        appendResult(token == ModemHandshake::busy ? ModemResult::Busy : ModemResult::NoCarrier);
    }
}

void VirtualModem::onCallReadyRead()
{
    switch (m_state) {
    case State::Dialing:
        readAnswerToken();
        return;
    case State::Ringing:
    case State::Training:
        readCallerLine();
        return;
    case State::Online:
        pullFromLine();
        return;
    case State::Closed:
    case State::Idle:
    case State::OnlineCommand:
        // The bytes wait in the connection until the modem is online.
        return;
    }
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
    qCDebug(lcVmodem).noquote() << "the other end of line" << m_options.line << "hung up";
    appendResult(ModemResult::NoCarrier);
    dropCall();
}

void VirtualModem::onCallUnreachable()
{
    if (m_state != State::Dialing)
        return;
    qCDebug(lcVmodem) << "no modem answers on the line dialled";
    dropCall();
    appendResult(ModemResult::NoAnswer);
}

} // namespace tellaran
