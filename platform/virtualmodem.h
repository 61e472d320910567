#pragma once

#include "platform/serialbackend.h"

#include <QString>
#include <memory>

namespace tellaran {

struct VirtualModemOptions
{
    // Where this modem answers calls: "host:port" for TCP, anything else is a name in the
    // exchange folder. Empty: the modem can call out but not be called.
    QString line;
    QString exchangeDir;
    // Bit/s on the line, 10 bits a byte; 0 means unpaced.
    int lineRate = 56000;
    // Time between two RINGs of an incoming call.
    int ringIntervalMs = 6000;
    // Time from the answer to CONNECT on both sides, as a real modem trains its line. It
    // also lets an answer command that the computer types on RING land in the command
    // buffer, which going online clears, instead of on the line.
    int trainingDelayMs = 500;
};

// The built-in Hayes-compatible modem, seen from the computer as a serial port backend.
// Its phone line is a stream socket; see the README of platform/ for the dialogue.
// Created by SerialPort for a port mapped to "modem:<line>".
std::unique_ptr<SerialBackend> createVirtualModem(const VirtualModemOptions& options,
                                                  QObject* parent = nullptr);

} // namespace tellaran
