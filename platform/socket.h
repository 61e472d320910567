#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace tellaran {

// One TCP connection, shaped like the classic socket control the engine and the client
// control were written against. Every call returns at once; what happens on the wire is
// reported through the events.
//
// Naming: methods keep the control's own names (Connect, SendData, GetData, Close).
// Events are Qt signals named after the control's event with the suffix "Event"
// (ConnectEvent, DataArrivalEvent, CloseEvent, ErrorEvent), because C++ cannot hold
// a method and a signal of the same name.
//
// Errors never throw: they set State() to Error (9) and raise ErrorEvent.
class Socket : public QObject
{
    Q_OBJECT
public:
    enum StateCode
    {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8,
        Error = 9,
    };

    explicit Socket(QObject* parent = nullptr);
    ~Socket() override;

    int State() const;

    // Starts an outgoing connection and returns at once; ConnectEvent follows on success,
    // ErrorEvent (state 9) on failure. Ignored unless the socket is closed (0).
    void Connect(const QString& host, quint16 port);

    // Queues the bytes and returns at once. Ignored unless connected.
    void SendData(const QByteArray& data);

    // Everything received and not yet taken, one byte per character.
    QByteArray GetData();

    // Bytes received and not yet taken.
    qint64 BytesReceived() const;

    // Closes the connection (or abandons an attempt) and returns to state 0. Raises no event.
    // What is still queued for the peer is handed to the system first.
    void Close();
    // Closes at once, throwing away what is still queued for the peer. Raises no event.
    void Abort();

    // While paused, nothing more is read from the connection and no DataArrivalEvent is
    // raised: the socket takes at most PausedReadBuffer bytes more, then the system's own
    // buffers fill and TCP slows the peer down. Resuming raises DataArrivalEvent, from the
    // event loop, for what came meanwhile.
    void setReceivePaused(bool paused);
    bool isReceivePaused() const { return receivePaused_; }
    static constexpr qint64 PausedReadBuffer = 64 * 1024;
    // Otherwise one read takes at most this much from the system: a program that sends
    // megabytes at once is read in pieces, so that twenty of them never hold tens of
    // megabytes in the engine between two reads.
    static constexpr qint64 ReadBuffer = 1024 * 1024;

    // This computer's own address as text: the first non-loopback IPv4 address of an
    // interface that is up, or "127.0.0.1" when there is none.
    static QString LocalIP();

    // The far end of a connected or accepted socket, and this end.
    QHostAddress PeerAddress() const;
    quint16 PeerPort() const;
    QHostAddress LocalAddress() const;
    quint16 LocalPort() const;

    // Bytes handed to SendData that the operating system has not taken yet.
    qint64 BytesToWrite() const;

    // Used by SocketArray: takes over an accepted connection; the socket is connected after.
    void adoptAccepted(QTcpSocket* accepted);

Q_SIGNALS:
    void ConnectEvent();
    void DataArrivalEvent(qint64 bytesTotal);
    // The peer closed the connection. The socket is left in state 8 (closing) until Close().
    void CloseEvent();
    void ErrorEvent(int number, const QString& description);

private:
    void attach(QTcpSocket* socket);
    void detach(bool handOnQueued = true);
    void onConnected();
    void onReadyRead();
    void onPeerClosed();
    void onSocketError(int error);
    void raiseError(int number, const QString& description);
    void pullArrived();

    QTcpSocket* tcp_ = nullptr;
    int state_ = Closed;
    // Received bytes move here at once, so they survive the peer's close.
    QByteArray inbox_;
    // Bumped by every attach and detach: a handler that ran nested code compares it
    // to learn whether its connection is still the current one.
    quint64 generation_ = 0;
    bool peerCloseSeen_ = false;
    bool insideConnect_ = false;
    bool receivePaused_ = false;
};

// An IPv4 address that reached a dual-stack listener as "::ffff:a.b.c.d" comes back as plain
// "a.b.c.d", so it compares equal to the addresses the interfaces report.
QHostAddress withoutIPv4Mapping(const QHostAddress& address);

} // namespace tellaran
