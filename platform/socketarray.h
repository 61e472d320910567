#pragma once

#include "platform/listeningsocket.h"
#include "platform/socket.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <map>
#include <memory>
#include <set>

class QTcpSocket;

namespace tellaran {

// A control array of sockets, as the channel server uses it: element 0 listens, and every
// accepted connection is loaded as an element of its own. An element whose connection has
// ended is unloaded, and its index may then be loaded again for a new connection.
//
// Events carry the element index. Their names follow the Socket convention
// (control event name + "Event").
class SocketArray : public QObject
{
    Q_OBJECT
public:
    explicit SocketArray(QObject* parent = nullptr);
    ~SocketArray() override;

    // Element 0: the listening socket.
    void setLocalPort(quint16 port);
    quint16 LocalPort() const;
    // Listens on every local address, with a backlog of ListenBacklog. Returns false (and the
    // description in *error) when the port cannot be bound. With port 0 the system picks one;
    // LocalPort() then tells which.
    bool Listen(QString* error = nullptr);
    static constexpr int ListenBacklog = ListeningSocket::DefaultBacklog;

    // When a connection cannot be accepted (out of file descriptors, say), accepting pauses
    // and tries again after a short while, or as soon as an element closes, instead of
    // failing again and again. acceptPaused() is raised once for each run of failures.
    bool isAcceptPaused() const { return listening_.isPaused(); }

    // The highest index loaded now (0 when no element is).
    int UBound() const;
    // Loads element `index` (1 or more); it must not be loaded now. Returns false otherwise.
    bool Load(int index);
    // Unloads element `index`, closing it first; its memory is given back once the event
    // loop has finished with it. Nothing is raised for it afterwards.
    void Unload(int index);
    bool isLoaded(int index) const { return elements_.count(index) != 0; }
    // Elements loaded now.
    int count() const { return int(elements_.size()); }
    // Accepts the pending connection `requestId` on element `index`, which must be loaded
    // and never have been connected. Returns false when the request is unknown.
    bool Accept(int index, qintptr requestId);
    // Closes and forgets a pending connection that will not be accepted.
    void Reject(qintptr requestId);
    // Address of the computer that asks to connect, for a pending request.
    QHostAddress RequestPeerAddress(qintptr requestId) const;

    // Element access; nullptr when the index is not loaded (element 0 has no Socket).
    Socket* element(int index) const;
    int State(int index) const;
    void SendData(int index, const QByteArray& data);
    QByteArray GetData(int index);
    // Closes element `index`; with `abort`, what still waits for its peer is thrown away.
    void Close(int index, bool abort = false);

Q_SIGNALS:
    void ConnectionRequestEvent(int index, qintptr requestId);
    void DataArrivalEvent(int index, qint64 bytesTotal);
    void CloseEvent(int index);
    // Accepting paused after an accept error; `error` says why.
    void acceptPaused(const QString& error);

private:
    void onAccepted(qintptr descriptor);

    ListeningSocket listening_;
    quint16 localPort_ = 0;
    int ubound_ = 0;
    qintptr nextRequestId_ = 1;
    std::map<qintptr, QTcpSocket*> pending_;
    std::map<int, std::unique_ptr<Socket>> elements_;
    // Loaded elements that took a connection; Accept never hands them a second one.
    std::set<int> used_;
    // After a run of unloads, the memory they freed goes back to the system.
    QTimer trimTimer_;
};

} // namespace tellaran
