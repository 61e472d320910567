#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace tellaran {

// Finds the escape sequence ("+++" framed by guard times of silence) in what the computer
// sends while online. Pluses that may begin the sequence are held back; if the sequence
// fails they go to the line after all, in order, so payload pluses always pass through.
// Times are milliseconds of one monotonic clock.
class ModemEscapeDetector
{
public:
    enum class Expiry
    {
        Nothing, // no deadline has passed
        Release, // the held pluses were no escape: send them
        Escape,  // "+++" and silence: back to command state, the pluses are dropped
    };

    // The computer's silence starts at `nowMs` (going online). Any held plus is forgotten.
    void restart(qint64 nowMs, int guardTimeMs, int escapeChar);

    // Bytes written at `nowMs`; returns those that go to the line now.
    QByteArray feed(QByteArrayView bytes, qint64 nowMs);
    // When held pluses must be decided, or -1 when none are held.
    qint64 deadline() const;
    // Decides the held pluses once their deadline has passed; `release` receives the
    // pluses to send on Release.
    Expiry expire(qint64 nowMs, QByteArray& release);
    qsizetype heldCount() const { return m_held; }

private:
    int m_guardMs = 1000;
    int m_escapeChar = '+';
    qint64 m_lastByteMs = 0;
    qint64 m_lastPlusMs = 0;
    qsizetype m_held = 0;
};

} // namespace tellaran
