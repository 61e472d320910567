#pragma once

#include "platform/serialbackend.h"

#include <QString>
#include <memory>

namespace tellaran {

struct VirtualModemOptions
{
    // Where this modem answers calls: "host:port" for TCP, anything else is a name in the
    // exchange folder.
    QString line;
    QString exchangeDir;
    // Bit/s on the line, 10 bits a byte; 0 means unpaced.
    int lineRate = 56000;
};

// The built-in Hayes-compatible modem, seen from the computer as a serial port backend.
// Its phone line is a stream socket; see the README of platform/ for the dialogue.
// Created by SerialPort for a port mapped to "modem:<line>".
std::unique_ptr<SerialBackend> createVirtualModem(const VirtualModemOptions& options,
                                                  QObject* parent = nullptr);

} // namespace tellaran
