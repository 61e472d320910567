#include "platform/modemescapedetector.h"

namespace tellaran {

void ModemEscapeDetector::restart(qint64 nowMs, int guardTimeMs, int escapeChar)
{
    m_guardMs = guardTimeMs;
    m_escapeChar = escapeChar;
    m_lastByteMs = nowMs;
    m_held = 0;
}

QByteArray ModemEscapeDetector::feed(QByteArrayView bytes, qint64 nowMs)
{
    QByteArray out;
    out.reserve(bytes.size() + m_held);
    // An escape character above 127 switches the escape off.
    const bool enabled = m_escapeChar >= 0 && m_escapeChar <= 127;
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        // Data holds an escape character rarely: what lies before the next one passes in one
        // piece, as it would byte by byte (each byte restarts the guard time).
        if (m_held == 0) {
            const qsizetype next =
                enabled ? bytes.indexOf(static_cast<char>(m_escapeChar), i) : qsizetype(-1);
            const qsizetype run = (next < 0 ? n : next) - i;
            if (run > 0) {
                out.append(bytes.sliced(i, run));
                m_lastByteMs = nowMs;
                i += run;
                continue;
            }
        }
        const char c = bytes[i++];
        const bool plus = enabled && static_cast<unsigned char>(c) == m_escapeChar;
        if (m_held > 0) {
            if (plus && m_held < 3 && nowMs - m_lastPlusMs < m_guardMs) {
                ++m_held;
                m_lastPlusMs = nowMs;
                m_lastByteMs = nowMs;
                continue;
            }
            out.append(m_held, static_cast<char>(m_escapeChar));
            m_lastByteMs = m_lastPlusMs;
            m_held = 0;
        }
        if (plus && nowMs - m_lastByteMs >= m_guardMs) {
            m_held = 1;
            m_lastPlusMs = nowMs;
        } else {
            out += c;
        }
        m_lastByteMs = nowMs;
    }
    return out;
}

qint64 ModemEscapeDetector::deadline() const
{
    return m_held > 0 ? m_lastPlusMs + m_guardMs : -1;
}

ModemEscapeDetector::Expiry ModemEscapeDetector::expire(qint64 nowMs, QByteArray& release)
{
    if (m_held == 0 || nowMs < deadline())
        return Expiry::Nothing;
    const qsizetype held = m_held;
    m_held = 0;
    if (held == 3)
        return Expiry::Escape;
    release = QByteArray(held, static_cast<char>(m_escapeChar));
    return Expiry::Release;
}

} // namespace tellaran
