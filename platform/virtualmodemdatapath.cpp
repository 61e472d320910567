// The virtual modem online: bytes from the computer to the line, paced at the line rate and
// watched for the escape, and bytes from the line to the computer as fast as it reads them.
#include "platform/virtualmodemprivate.h"

#include <QIODevice>

#include <algorithm>

namespace tellaran {

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
    // Bytes that find the line idle start its schedule now, not when it last went idle.
    if (queuedForLine() == 0)
        m_pacer.wake(m_clock.nsecsElapsed());
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
    // Behind a late reply (the CONNECT itself, say) the line's bytes wait their turn.
    if (!m_call || m_state != State::Online || !m_lateReplies.empty())
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

} // namespace tellaran
