#include "platform/modempacer.h"

#include <algorithm>
#include <limits>

namespace tellaran {

void ModemPacer::setRate(qint64 bitsPerSecond)
{
    m_bitsPerSecond = std::max<qint64>(0, bitsPerSecond);
}

void ModemPacer::restart(qint64 nowNs)
{
    m_credit = 0;
    m_lastNs = nowNs;
}

qint64 ModemPacer::capacity() const
{
    return std::max(burstNs * m_bitsPerSecond, 2 * unitsPerByte);
}

qint64 ModemPacer::available(qint64 nowNs)
{
    if (!paced())
        return std::numeric_limits<qint64>::max();
    // Only the time that can still fill the bucket counts; this also keeps the product
    // far from overflowing.
    const qint64 elapsed = std::clamp<qint64>(nowNs - m_lastNs, 0, burstNs + 1'000'000'000LL);
    m_lastNs = nowNs;
    m_credit = std::min(m_credit + elapsed * m_bitsPerSecond, capacity());
    return m_credit / unitsPerByte;
}

void ModemPacer::consume(qint64 bytes)
{
    if (paced())
        m_credit = std::max<qint64>(0, m_credit - bytes * unitsPerByte);
}

qint64 ModemPacer::nsUntilAvailable(qint64 bytes) const
{
    if (!paced())
        return 0;
    const qint64 wanted = std::min(bytes * unitsPerByte, capacity());
    const qint64 missing = wanted - m_credit;
    if (missing <= 0)
        return 0;
    return (missing + m_bitsPerSecond - 1) / m_bitsPerSecond;
}

qint64 ModemPacer::preferredPiece() const
{
    if (!paced())
        return std::numeric_limits<qint64>::max();
    return std::max<qint64>(1, m_bitsPerSecond * 2'000'000 / unitsPerByte);
}

} // namespace tellaran
