#pragma once

#include "engine/link/frames.h"
#include "engine/tellaranengine.h"

#include <QTcpSocket>
#include <QTest>

namespace tellaran::testing {

// A local program speaking the channel protocol by hand. It takes everything the engine
// relays to it, unless told to stop reading.
class RawClient
{
public:
    RawClient(TellaranEngine& engine, const QByteArray& dataId) : dataId_(dataId)
    {
        socket_.connectToHost(QHostAddress::LocalHost, engine.channelPort());
        QObject::connect(&socket_, &QTcpSocket::readyRead, [this] {
            if (reading_)
                received += socket_.readAll();
        });
        // The message window never registers; programs do, at once.
        if (socket_.waitForConnected(5000) && !dataId_.isEmpty())
            socket_.write(frames::registration(dataId_));
        socket_.flush();
    }
    void send(const QByteArray& payload) { socket_.write(frames::channelFrame(dataId_, payload)); }
    void sendRaw(const QByteArray& bytes) { socket_.write(bytes); }
    bool isOpen() const { return socket_.state() == QAbstractSocket::ConnectedState; }
    // A program that stops reading: the socket takes a little, then the system's buffers
    // fill and the engine's queue for it grows.
    void stopReading()
    {
        reading_ = false;
        socket_.setReadBufferSize(4096);
    }
    qint64 bytesToWrite() const { return socket_.bytesToWrite(); }

    QByteArray received;

private:
    QByteArray dataId_;
    QTcpSocket socket_;
    bool reading_ = true;
};

// Waits until the table of `engine` holds `count` records (the registrations have arrived).
inline bool waitForRegistrations(TellaranEngine& engine, int count)
{
    return QTest::qWaitFor(
        [&] { return engine.statusWindow().channelTable().records().size() >= count; }, 5000);
}

} // namespace tellaran::testing
