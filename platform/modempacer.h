#pragma once

#include <QtGlobal>

namespace tellaran {

// Meters bytes onto the line at its bit rate, 10 bits a byte: a token bucket that fills
// continuously and holds only a small burst, so that back-to-back writes lose no time and
// an idle line does not save up a flood. Times are nanoseconds of one monotonic clock.
class ModemPacer
{
public:
    // Burst the bucket holds: a few milliseconds of the line, at least a couple of bytes.
    static constexpr qint64 burstNs = 8'000'000;

    // `bitsPerSecond` 0 means unpaced.
    void setRate(qint64 bitsPerSecond);
    bool paced() const { return m_bitsPerSecond > 0; }
    // Empties the bucket at `nowNs` (going online).
    void restart(qint64 nowNs);

    // Whole bytes that may go on the line at `nowNs`.
    qint64 available(qint64 nowNs);
    // Takes `bytes` (at most available()) out of the bucket.
    void consume(qint64 bytes);
    // Nanoseconds from `nowNs` until `bytes` are available (capped at the burst), given that
    // available() was last called at `nowNs`.
    qint64 nsUntilAvailable(qint64 bytes) const;
    // A convenient piece to wait for: about 2 ms of the line, at least one byte.
    qint64 preferredPiece() const;

private:
    qint64 capacity() const;

    // Credit in bit-nanoseconds: one byte is 10 * 1e9 of them, and a nanosecond at the line
    // rate earns bitsPerSecond of them. Integers keep the rate exact over any time.
    static constexpr qint64 unitsPerByte = 10LL * 1'000'000'000LL;
    qint64 m_bitsPerSecond = 0;
    qint64 m_credit = 0;
    qint64 m_lastNs = 0;
};

} // namespace tellaran
