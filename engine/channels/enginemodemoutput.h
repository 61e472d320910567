#pragma once

#include "engine/channels/modemoutput.h"

namespace tellaran {

class Engine;

// The modem window's serial port, reached through the engine. The Connected flag is read
// first, and it never loads the modem window, so asking before a call neither loads that
// window nor touches the port.
class EngineModemOutput : public ModemOutput
{
public:
    explicit EngineModemOutput(Engine& engine) : engine_(engine) {}

    bool isReady() const override;
    int outBufferSize() const override;
    int outBufferCount() const override;
    void output(const QByteArray& bytes) override;

private:
    Engine& engine_;
};

} // namespace tellaran
