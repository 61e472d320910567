#include "platform/modempacer.h"

#include <algorithm>
#include <limits>

namespace tellaran {

namespace {

// A wake-up later than this loses the time beyond it, so the arithmetic stays far from
// overflowing at any rate.
constexpr qint64 MaxCatchUpNs = 100'000'000'000LL;

} // namespace

void ModemPacer::setRate(qint64 bitsPerSecond)
{
    m_bitsPerSecond = std::max<qint64>(0, bitsPerSecond);
    m_busyUnits = 0;
}

void ModemPacer::restart(qint64 nowNs)
{
    m_busyNs = nowNs;
    m_busyUnits = 0;
    m_lastNs = nowNs;
}

void ModemPacer::wake(qint64 nowNs)
{
    if (m_busyNs < nowNs) {
        m_busyNs = nowNs;
        m_busyUnits = 0;
    }
}

qint64 ModemPacer::burst() const
{
    const qint64 byteNs = (unitsPerByte + m_bitsPerSecond - 1) / m_bitsPerSecond;
    return std::max(burstNs, byteNs);
}

qint64 ModemPacer::available(qint64 nowNs)
{
    if (!paced())
        return std::numeric_limits<qint64>::max();
    m_lastNs = nowNs;
    if (nowNs - m_busyNs > MaxCatchUpNs) {
        m_busyNs = nowNs - MaxCatchUpNs;
        m_busyUnits = 0;
    }
    const qint64 aheadNs = nowNs + burst() - m_busyNs;
    if (aheadNs <= 0)
        return 0;
    const qint64 units = aheadNs * m_bitsPerSecond - m_busyUnits;
    return units > 0 ? units / unitsPerByte : 0;
}

void ModemPacer::consume(qint64 bytes)
{
    if (!paced() || bytes <= 0)
        return;
    const qint64 units = m_busyUnits + bytes * unitsPerByte;
    m_busyNs += units / m_bitsPerSecond;
    m_busyUnits = units % m_bitsPerSecond;
}

qint64 ModemPacer::nsUntilAvailable(qint64 bytes) const
{
    if (!paced())
        return 0;
    const qint64 wanted = std::clamp<qint64>(bytes, 1, preferredPiece());
    // The moment the wanted bytes' last bit is on the line, less the burst.
    const qint64 units = m_busyUnits + wanted * unitsPerByte;
    const qint64 dueNs = m_busyNs + (units + m_bitsPerSecond - 1) / m_bitsPerSecond - burst();
    return std::max<qint64>(0, dueNs - m_lastNs);
}

qint64 ModemPacer::preferredPiece() const
{
    if (!paced())
        return std::numeric_limits<qint64>::max();
    return std::max<qint64>(1, burst() * m_bitsPerSecond / unitsPerByte);
}

} // namespace tellaran
