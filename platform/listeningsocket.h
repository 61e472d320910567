#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace tellaran {

// A listening socket that stays calm when connections cannot be accepted.
//
// Accepting is done here rather than left to QTcpServer / QLocalServer: when the process is
// out of file descriptors, a waiting connection keeps the listening socket readable, and a
// server that does not stop trying fails again and again at full speed. This one pauses and
// tries again after RetryInterval ms, or at once when retryNow() says a descriptor came
// free; it reports each run of failures once.
class ListeningSocket : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultBacklog = 1024;
    static constexpr int RetryInterval = 100;

    explicit ListeningSocket(QObject* parent = nullptr);
    ~ListeningSocket() override;

    // TCP on every local address (IPv6 and IPv4 where the system has both); port 0 lets
    // the system choose. Returns false, with the reason in *error.
    bool listenTcp(quint16 port, QString* error = nullptr);
    // TCP on one address of this computer.
    bool listenTcp(const QHostAddress& address, quint16 port, QString* error = nullptr);
    // A Unix-domain stream socket at `path` (which must not exist yet), usable by this user
    // only; closing removes it.
    bool listenLocal(const QString& path, QString* error = nullptr);
    // The system's error number of the last failure to listen (EADDRINUSE, say).
    int lastErrorNumber() const { return lastErrorNumber_; }
    void close();

    bool isListening() const { return descriptor_ >= 0; }
    quint16 port() const { return port_; }
    bool isPaused() const { return paused_; }
    // A descriptor may have come free: try again now if accepting is paused.
    void retryNow();

Q_SIGNALS:
    // A connection was accepted; the receiver owns `descriptor` (non-blocking, close-on-exec).
    void accepted(qintptr descriptor);
    // Accepting failed and is paused; once for each run of failures.
    void acceptPaused(const QString& error);

private:
    bool finishListen(int descriptor, int backlog, QString* error);
    void acceptPending();

    int descriptor_ = -1;
    int lastErrorNumber_ = 0;
    QString localPath_;
    quint16 port_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    QTimer retry_;
    bool paused_ = false;
    bool failureReported_ = false;
};

} // namespace tellaran
