#pragma once

#include "platform/serialbackend.h"

#include <QByteArrayList>
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
    // How late the modem replies to a command line; the echo comes at once. What it says
    // later waits behind a late reply, so the order stays. 0: at once.
    int replyDelayMs = 0;
    // Commands it does not know and answers with ERROR ("%C3", "L"), as some makers' do.
    QByteArrayList rejectedCommands;
    // Powers up with &D0: dropping DTR does nothing, as on a modem set so, or a cable or
    // adapter that does not pass DTR.
    bool ignoreDtr = false;
};

// The built-in Hayes-compatible modem, seen from the computer as a serial port backend.
// Its phone line is a stream socket; see the README of platform/ for the dialogue.
// Created by SerialPort for a port mapped to "modem:<line>".
std::unique_ptr<SerialBackend> createVirtualModem(const VirtualModemOptions& options,
                                                  QObject* parent = nullptr);

} // namespace tellaran
