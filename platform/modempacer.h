#pragma once

#include <QtGlobal>

namespace tellaran {

// Meters bytes onto the line at its bit rate, 10 bits a byte. It keeps the line's schedule:
// each byte takes its bit time after the one before it, or after the moment it came to an
// idle line. A byte may go at most one burst ahead of the moment its last bit would be on
// the line, so nothing arrives faster than a real line could carry it, and a wake-up that
// comes late sends what was due meanwhile, so the rate stays exact. Times are nanoseconds
// of one monotonic clock.
class ModemPacer
{
public:
    // How far ahead of its bit time a byte may go: 1 ms, or one byte's time where a byte
    // takes longer.
    static constexpr qint64 burstNs = 1'000'000;

    // `bitsPerSecond` 0 means unpaced.
    void setRate(qint64 bitsPerSecond);
    bool paced() const { return m_bitsPerSecond > 0; }
    // Going online at `nowNs`: the line is idle, nothing sent yet.
    void restart(qint64 nowNs);
    // Bytes came at `nowNs` to a line with nothing waiting: the line cannot have sent them
    // any earlier.
    void wake(qint64 nowNs);

    // Whole bytes that may go on the line at `nowNs`.
    qint64 available(qint64 nowNs);
    // Takes `bytes` (at most available()) onto the line's schedule.
    void consume(qint64 bytes);
    // Nanoseconds from `nowNs` until `bytes` (at most one burst of them) may go, given that
    // available() was last called at `nowNs`.
    qint64 nsUntilAvailable(qint64 bytes) const;
    // The bytes of one burst, at least one: a convenient piece to wait for.
    qint64 preferredPiece() const;

private:
    qint64 burst() const;

    // Bit-nanoseconds: one byte is 10 * 1e9 of them, and a nanosecond at the line rate
    // passes bitsPerSecond of them. Integers keep the schedule exact over any time.
    static constexpr qint64 unitsPerByte = 10LL * 1'000'000'000LL;
    qint64 m_bitsPerSecond = 0;
    // When the line has sent everything consumed: m_busyNs + m_busyUnits / rate.
    qint64 m_busyNs = 0;
    qint64 m_busyUnits = 0;
    qint64 m_lastNs = 0;
};

} // namespace tellaran
