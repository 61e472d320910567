#include "engine/channels/enginemodemoutput.h"

#include "engine/engine.h"
#include "platform/serialport.h"

namespace tellaran {

bool EngineModemOutput::isReady() const
{
    return engine_.modemConnected() && engine_.isModemWindowLoaded() &&
           engine_.modemPort().PortOpen();
}

int EngineModemOutput::outBufferSize() const
{
    return engine_.isModemWindowLoaded() ? engine_.modemPort().OutBufferSize() : 0;
}

int EngineModemOutput::outBufferCount() const
{
    return engine_.isModemWindowLoaded() ? engine_.modemPort().OutBufferCount() : 0;
}

void EngineModemOutput::output(const QByteArray& bytes)
{
    if (engine_.isModemWindowLoaded())
        engine_.modemPort().Output(bytes);
}

} // namespace tellaran
