#pragma once

#include <QByteArray>

namespace tellaran {

// What the transmit drain needs of the modem's serial port.
class ModemOutput
{
public:
    virtual ~ModemOutput() = default;
    // True while a call is up and the port is open: only then may anything be written.
    virtual bool isReady() const = 0;
    virtual int outBufferSize() const = 0;
    // Bytes written and not yet sent.
    virtual int outBufferCount() const = 0;
    virtual void output(const QByteArray& bytes) = 0;
};

} // namespace tellaran
