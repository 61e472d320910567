#pragma once

#include <QByteArray>

namespace tellaran {

// What the dispatcher needs of the server's local connections (the Listener elements).
class ChannelConnections
{
public:
    virtual ~ChannelConnections() = default;
    // Whether element `index` is in the connected state (7).
    virtual bool isConnected(int index) const = 0;
    // Queues bytes on element `index`; returns at once.
    virtual void SendData(int index, const QByteArray& data) = 0;
};

} // namespace tellaran
