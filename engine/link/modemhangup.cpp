// The hang-up: DTR, and where that may not be enough (a modem set to ignore DTR, a cable or
// adapter without it), the escape and "ATH".
#include "engine/link/modemlink.h"

#include "platform/logging.h"

#include <QPointer>

namespace tellaran {

void ModemLink::HangUp()
{
    if (hangingUp_ || !MSComm1.PortOpen())
        return;
    const QPointer<ModemLink> alive(this);
    hangingUp_ = true;
    // The call is over for the rest of the engine: nothing more is written for it (the
    // escape needs a silent line), and its end is no news.
    Connected = false;
    stalledFrameTimer_.stop();
    // What the carry-over holds (an unfinished frame, the modem's "NO CARRIER" that connected
    // mode never cut) would stand in front of the modem's first reply.
    UseString.clear();

    qCDebug(lcModem) << "hang-up: DTR dropped";
    MSComm1.setDTREnable(false);
    // Carrier detect shows the hang-up only on a device that reports it, and only if it was
    // seen on when a call was up: otherwise it is not wired.
    const bool carrierTells = MSComm1.CDReadable() && (carrierSeenOn_ || !callWasUp_);
    bool onHook = false;
    if (carrierTells) {
        onHook = waitUntil(hangUpTimes_.carrierMs,
                           [this] { return !MSComm1.PortOpen() || !MSComm1.CDHolding(); });
        if (!alive)
            return;
        if (onHook)
            qCDebug(lcModem) << "hang-up: carrier detect went off";
        else
            qCDebug(lcModem) << "hang-up: carrier detect still on after" << hangUpTimes_.carrierMs
                             << "ms";
    } else {
        qCDebug(lcModem) << "hang-up: carrier detect cannot show whether the modem hung up";
    }

    if (!onHook && MSComm1.PortOpen()) {
        if (mayBeOnline_) {
            // What is still in the port goes first; then the silence the escape needs.
            waitUntil(hangUpTimes_.replyMs, [this] { return MSComm1.OutBufferCount() == 0; });
            if (alive)
                waitUntil(hangUpTimes_.guardMs, [] { return false; });
            if (!alive)
                return;
            writeCommand("+++", false, false);
            // At least the guard time after it; then its "OK", if the modem was online.
            waitUntil(hangUpTimes_.guardMs, [] { return false; });
            if (!alive)
                return;
            const std::optional<ModemResultCode> escaped = awaitReply(hangUpTimes_.replyMs);
            if (!alive)
                return;
            if (!escaped)
                qCDebug(lcModem) << "hang-up: no reply to the escape";
        }
        if (MSComm1.PortOpen()) {
            writeCommand("ATH");
            const std::optional<ModemResultCode> hungUp = awaitReply(hangUpTimes_.replyMs);
            if (!alive)
                return;
            if (hungUp != ModemResultCode::Ok)
                qCDebug(lcModem).noquote()
                    << "hang-up:"
                    << (hungUp ? "the modem replied ERROR to ATH" : "no reply to ATH");
        }
    }
    mayBeOnline_ = false;
    MSComm1.setPortOpen(false);
    // The next opening raises DTR again.
    MSComm1.setDTREnable(true);
    hangingUp_ = false;
    qCDebug(lcModem) << "hang-up: port closed";
}

} // namespace tellaran
