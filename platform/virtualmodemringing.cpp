// The virtual modem's incoming calls: connections knocking on its line, ringing, and the
// caller-ID lines between the first and second RING.
#include "platform/virtualmodemprivate.h"

#include "platform/logging.h"

#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <utility>

namespace tellaran {

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
        qCDebug(lcVmodem).noquote() << "line" << m_options.line << "is busy: a call is refused";
        io->write(ModemHandshake::busy);
        connection->hangUp();
        return;
    }
    qCDebug(lcVmodem).noquote() << "line" << m_options.line << "rings: a call comes in";
    m_call = connection;
    wireCall(connection);
    m_state = State::Ringing;
    m_commands.setSRegister(ModemCommandInterpreter::ringCount, 0);
    m_callerNumber.clear();
    m_callerName.clear();
    m_callerLineRead = false;
    m_callerIdSent = false;
    readCallerLine();
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
    if (answerAfter > 0 && rings >= answerAfter) {
        answer();
        return;
    }
    sendCallerId();
}

// The caller's line, when it sent one, comes right after its CALL. Only a line that begins
// as one is taken: anything else stays for the computer once the call is up.
void VirtualModem::readCallerLine()
{
    if (m_callerLineRead || !m_call)
        return;
    QIODevice* io = m_call->device();
    const QByteArray& prefix = ModemHandshake::callerPrefix;
    const QByteArray head = io->peek(prefix.size());
    if (!prefix.startsWith(head)) {
        m_callerLineRead = true;
    } else if (head.size() == prefix.size() && io->canReadLine()) {
        const QByteArray line = io->readLine(ModemHandshake::maxCallerLineLength + 1);
        ModemHandshake::parseCallerLine(line, &m_callerNumber, &m_callerName);
        m_callerLineRead = true;
    } else if (io->bytesAvailable() >= ModemHandshake::maxCallerLineLength) {
        m_callerLineRead = true;
    } else {
        return;
    }
    sendCallerId();
}

// Between the first and second RING, as the telephone network sends it; a modem that answers
// on the first ring never sees it.
void VirtualModem::sendCallerId()
{
    if (m_state != State::Ringing || !m_commands.callerIdEnabled() || !m_callerLineRead ||
        m_callerIdSent || m_commands.sRegister(ModemCommandInterpreter::ringCount) != 1)
        return;
    m_callerIdSent = true;
    sayToHost(m_commands.callerIdText(QDateTime::currentDateTime(), m_callerNumber, m_callerName));
}

} // namespace tellaran
