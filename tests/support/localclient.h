#pragma once

#include <QHostAddress>
#include <QTcpSocket>
#include <memory>

namespace tellaran::testing {

// A local program as the channel server sees it: a plain TCP client, connected before it is
// returned.
inline std::unique_ptr<QTcpSocket> connectClient(quint16 port)
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, port);
    if (!client->waitForConnected(5000))
        qWarning("client could not connect");
    return client;
}

// Writes bytes and hands them to the system at once.
inline void send(QTcpSocket& client, const QByteArray& bytes)
{
    client.write(bytes);
    client.flush();
}

} // namespace tellaran::testing
