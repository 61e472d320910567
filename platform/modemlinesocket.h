#pragma once

#include "platform/listeningsocket.h"
#include "platform/modemline.h"

#include <QObject>
#include <QString>

class QIODevice;
class QLocalSocket;
class QTcpSocket;

namespace tellaran {

// One phone-line connection of the virtual modem, over TCP or a Unix-domain socket. The
// modem sees one kind of thing whichever the line is.
class ModemLineConnection : public QObject
{
    Q_OBJECT
public:
    // A connection that will call `address` once start() is called.
    static ModemLineConnection* create(const ModemLineAddress& address, const QString& exchangeDir,
                                       QObject* parent);
    // An accepted connection.
    ModemLineConnection(QTcpSocket* socket, QObject* parent);
    ModemLineConnection(QLocalSocket* socket, QObject* parent);
    ~ModemLineConnection() override;

    // Starts calling. Failure may be signalled before this returns.
    void start();
    QIODevice* device() const;
    qint64 bytesToWrite() const;
    // Ends the connection: what was written still goes out, then the connection deletes
    // itself. It emits nothing from here on.
    void hangUp();
    // Ends the connection at once and deletes it later; emits nothing from here on.
    void abort();

Q_SIGNALS:
    void connected();
    void readyRead();
    void bytesWritten();
    // The other end closed, or the connection broke. Emitted once.
    void disconnected();
    // Calling failed: nobody listens there, or the address cannot be reached.
    void unreachable(const QString& reason);

private:
    ModemLineConnection(const ModemLineAddress& address, const QString& exchangeDir,
                        QObject* parent);
    void wire();
    void onConnected();
    void onError(const QString& reason);
    void onDisconnected();
    bool isConnectedState() const;

    ModemLineAddress m_address;
    QString m_exchangeDir;
    QTcpSocket* m_tcp = nullptr;
    QLocalSocket* m_local = nullptr;
    bool m_wasConnected = false;
    bool m_ended = false;
    bool m_silenced = false;
};

// Holds a modem's own line while its port is open: listens there and hands on every
// incoming connection.
class ModemLineListener : public QObject
{
    Q_OBJECT
public:
    explicit ModemLineListener(QObject* parent = nullptr);
    ~ModemLineListener() override;

    // Takes the line. Fails, saying why, when the line is held by a live modem or cannot be
    // used; a socket file left by a program that ended abruptly is replaced.
    bool listen(const ModemLineAddress& address, const QString& exchangeDir, QString* why);
    // Releases the line.
    void close();
    bool isListening() const;

Q_SIGNALS:
    // A new connection, owned by the listener until the receiver takes it (setParent).
    void incoming(tellaran::ModemLineConnection* connection);

private:
    void takeConnection(qintptr descriptor);

    ListeningSocket m_listening;
    bool m_isTcp = false;
};

} // namespace tellaran
