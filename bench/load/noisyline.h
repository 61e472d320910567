#pragma once

#include <QString>

namespace tellaran::load {

// A noisy phone line between two virtual modems: takes calls on the exchange line `listen`,
// puts each through to the line `connect`, and once the call is answered flips bits on it,
// both ways, each bit with the probability `bitErrorRate`, for `noiseSeconds` (0: for the
// whole call), then carries it clean. The call set-up itself passes clean, as a modem's
// handshake would. Prints the bits it flipped when the call ends, then ends.
int NoisyLine(const QString& exchangeDir, const QString& listen, const QString& connect,
              double bitErrorRate, int noiseSeconds, quint64 seed);

} // namespace tellaran::load
