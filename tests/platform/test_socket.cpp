#include "platform/socket.h"
#include "platform/socketarray.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using tellaran::Socket;
using tellaran::SocketArray;

namespace {

QByteArray allByteValues(int repeats)
{
    QByteArray bytes;
    for (int r = 0; r < repeats; ++r)
        for (int b = 0; b < 256; ++b)
            bytes.append(static_cast<char>(b));
    return bytes;
}

// A port nobody listens on: the system hands it out, then it is freed again.
quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A listening array that accepts every request on the next index, as the channel server does.
struct Server
{
    SocketArray array;
    QList<int> accepted;

    Server()
    {
        array.setLocalPort(0);
        QObject::connect(&array, &SocketArray::ConnectionRequestEvent, &array,
                         [this](int, qintptr requestId) {
                             const int index = array.UBound() + 1;
                             array.Load(index);
                             array.Accept(index, requestId);
                             accepted.append(index);
                         });
        QVERIFY(array.Listen());
    }
    quint16 port() const { return array.LocalPort(); }
};

bool connectClient(Socket& client, quint16 port, const QString& host = "127.0.0.1")
{
    QSignalSpy connected(&client, &Socket::ConnectEvent);
    client.Connect(host, port);
    return connected.wait(5000) && client.State() == Socket::Connected;
}

} // namespace

class TestSocket : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bytesCrossBothWaysEightBitClean();
    void refusedConnectReportsErrorAndSocketIsReusable();
    void peerCloseComesOnceAfterItsData();
    void dataArrivingDuringNestedLoopIsNotLost();
    void handlersMayCloseOrDeleteTheirOwner();
    void arrayIndicesAreNeverReused();
    void rejectedAndUnansweredRequestsAreClosed();
    void listenOnBusyPortFailsWithReason();
    void acceptPausesWhileOutOfDescriptors();
    void pausedSocketReadsNothingUntilResumed();
    void listeningSocketsOfBothKinds();
};

void TestSocket::bytesCrossBothWaysEightBitClean()
{
    Server server;
    Socket client;
    QSignalSpy serverArrivals(&server.array, &SocketArray::DataArrivalEvent);
    client.Connect(Socket::LocalIP(), server.port());
    QCOMPARE(client.State(), int(Socket::Connecting));
    client.SendData("sent too early"); // not connected yet: dropped
    QTRY_COMPARE(client.State(), int(Socket::Connected));
    QTRY_COMPARE(server.accepted, QList<int>{1});
    QCOMPARE(server.array.State(1), int(Socket::Connected));

    const QByteArray payload = allByteValues(64);
    client.SendData(payload);
    QByteArray atServer;
    QTRY_VERIFY((atServer += server.array.GetData(1)).size() >= payload.size());
    QCOMPARE(atServer, payload);
    QVERIFY(!serverArrivals.isEmpty());
    QCOMPARE(serverArrivals.first().at(0).toInt(), 1);

    server.array.SendData(1, payload);
    QByteArray atClient;
    QTRY_VERIFY((atClient += client.GetData()).size() >= payload.size());
    QCOMPARE(atClient, payload);
    QCOMPARE(client.GetData(), QByteArray());
}

void TestSocket::refusedConnectReportsErrorAndSocketIsReusable()
{
    Socket client;
    QSignalSpy errors(&client, &Socket::ErrorEvent);
    client.Connect("127.0.0.1", unusedPort());
    QCOMPARE(errors.count(), 0); // Connect returns before any event
    QVERIFY(errors.wait(5000));
    QCOMPARE(client.State(), int(Socket::Error));
    QCOMPARE(errors.first().at(0).toInt(), 10061);
    QVERIFY(!errors.first().at(1).toString().isEmpty());

    Server server;
    client.Connect("127.0.0.1", server.port()); // ignored until closed
    QCOMPARE(client.State(), int(Socket::Error));
    client.Close();
    QCOMPARE(client.State(), int(Socket::Closed));
    client.Close(); // harmless twice
    QVERIFY(connectClient(client, server.port()));
    QCOMPARE(errors.count(), 1);
}

void TestSocket::peerCloseComesOnceAfterItsData()
{
    Server server;
    Socket client;
    QVERIFY(connectClient(client, server.port()));
    QTRY_COMPARE(server.accepted, QList<int>{1});

    QStringList serverLog;
    QObject::connect(&server.array, &SocketArray::DataArrivalEvent, &server.array,
                     [&](int index, qint64) { serverLog << QString("data %1").arg(index); });
    QObject::connect(&server.array, &SocketArray::CloseEvent, &server.array,
                     [&](int index) { serverLog << QString("close %1").arg(index); });

    // Nobody reads during the events: the bytes must still be there after the close.
    const QByteArray payload = allByteValues(16);
    client.SendData(payload);
    client.Close();
    QTRY_VERIFY(serverLog.contains("close 1"));
    QCOMPARE(serverLog.first(), QString("data 1"));
    QCOMPARE(serverLog.last(), QString("close 1"));
    QCOMPARE(serverLog.count("close 1"), 1);
    QCOMPARE(server.array.State(1), int(Socket::Closing));
    QCOMPARE(server.array.GetData(1), payload);
    server.array.Close(1);
    QCOMPARE(server.array.State(1), int(Socket::Closed));
    QVERIFY(server.array.element(1) != nullptr);

    // The other way round: the server closes, the client hears it once, after the data.
    QVERIFY(connectClient(client, server.port()));
    QTRY_COMPARE(server.accepted, (QList<int>{1, 2}));
    QStringList clientLog;
    QObject::connect(&client, &Socket::DataArrivalEvent, &client, [&] { clientLog << "data"; });
    QObject::connect(&client, &Socket::CloseEvent, &client, [&] { clientLog << "close"; });
    server.array.SendData(2, "last words");
    server.array.Close(2);
    QTRY_VERIFY(clientLog.contains("close"));
    QTest::qWait(50); // a late second close event would show here
    QCOMPARE(clientLog, (QStringList{"data", "close"}));
    QCOMPARE(client.State(), int(Socket::Closing));
    QCOMPARE(client.GetData(), QByteArray("last words"));
    client.Close();
    QCOMPARE(client.State(), int(Socket::Closed));
}

void TestSocket::dataArrivingDuringNestedLoopIsNotLost()
{
    Server server;
    Socket client;
    QVERIFY(connectClient(client, server.port()));
    QTRY_COMPARE(server.accepted, QList<int>{1});
    const Socket* element = server.array.element(1);

    // Handlers read only when told that data arrived, and wait in nested loops (as a
    // message box does) while more data, and then the close, come in.
    QByteArray received;
    QByteArray receivedAtClose;
    int closes = 0;
    QObject::connect(&server.array, &SocketArray::CloseEvent, &server.array, [&] {
        ++closes;
        receivedAtClose = received;
    });
    QObject::connect(&server.array, &SocketArray::DataArrivalEvent, &server.array, [&] {
        received += server.array.GetData(1);
        if (received == "A") {
            client.SendData("B");
            QVERIFY(QTest::qWaitFor([&] { return element->BytesReceived() > 0; }, 5000));
        } else if (received == "AB") {
            client.SendData("C");
            client.Close();
            QVERIFY(QTest::qWaitFor([&] { return closes > 0; }, 5000));
        }
    });
    client.SendData("A");
    QTRY_COMPARE(closes, 1);
    QCOMPARE(receivedAtClose, QByteArray("ABC"));
    QTest::qWait(50); // a late second close event would show here
    QCOMPARE(closes, 1);
}

void TestSocket::handlersMayCloseOrDeleteTheirOwner()
{
    Server server;
    auto client = std::make_unique<Socket>();
    QVERIFY(connectClient(*client, server.port()));
    QTRY_COMPARE(server.accepted, QList<int>{1});
    QObject::connect(client.get(), &Socket::DataArrivalEvent, client.get(),
                     [&] { client.reset(); });
    server.array.SendData(1, "bye");
    QTRY_VERIFY(!client);

    // An array deleted by its own connection-request handler.
    auto array = std::make_unique<SocketArray>();
    array->setLocalPort(0);
    QVERIFY(array->Listen());
    const quint16 port = array->LocalPort();
    QObject::connect(array.get(), &SocketArray::ConnectionRequestEvent, array.get(),
                     [&] { array.reset(); });
    Socket victim;
    victim.Connect("127.0.0.1", port);
    QTRY_VERIFY(!array);
    QTRY_VERIFY(victim.State() == Socket::Closing || victim.State() == Socket::Error);

    // And one deleted by the data-arrival handler of one of its elements.
    auto owner = std::make_unique<Server>();
    Socket talker;
    QVERIFY(connectClient(talker, owner->port()));
    QTRY_COMPARE(owner->accepted, QList<int>{1});
    QObject::connect(&owner->array, &SocketArray::DataArrivalEvent, &owner->array,
                     [&] { owner.reset(); });
    talker.SendData("hello");
    QTRY_VERIFY(!owner);
    QTRY_COMPARE(talker.State(), int(Socket::Closing));
}

void TestSocket::arrayIndicesAreNeverReused()
{
    Server server;
    Socket first, second, third, fourth;
    for (Socket* client : {&first, &second, &third})
        QVERIFY(connectClient(*client, server.port()));
    QTRY_COMPARE(server.accepted, (QList<int>{1, 2, 3}));
    QCOMPARE(server.array.UBound(), 3);

    QSignalSpy closes(&server.array, &SocketArray::CloseEvent);
    first.Close();
    QVERIFY(closes.wait(5000));
    QCOMPARE(closes.first().at(0).toInt(), 1);
    server.array.Close(1);
    QVERIFY(connectClient(fourth, server.port()));
    QTRY_COMPARE(server.accepted, (QList<int>{1, 2, 3, 4}));

    QVERIFY(!server.array.Load(1));
    QVERIFY(!server.array.Load(4));
    QVERIFY(server.array.Load(5));
    QVERIFY(!server.array.Accept(5, 9999)); // unknown request
    QCOMPARE(server.array.element(0), nullptr);
}

void TestSocket::rejectedAndUnansweredRequestsAreClosed()
{
    SocketArray array;
    array.setLocalPort(0);
    QVERIFY(array.Listen());
    QHostAddress peer;
    bool reject = true;
    QObject::connect(&array, &SocketArray::ConnectionRequestEvent, &array,
                     [&](int index, qintptr requestId) {
                         QCOMPARE(index, 0);
                         peer = array.RequestPeerAddress(requestId);
                         if (reject)
                             array.Reject(requestId);
                     });
    for (bool rejecting : {true, false}) {
        reject = rejecting;
        Socket client;
        client.Connect("127.0.0.1", array.LocalPort());
        QTRY_VERIFY(client.State() == Socket::Closing || client.State() == Socket::Error);
        QCOMPARE(peer, QHostAddress(QHostAddress::LocalHost));
    }
    QCOMPARE(array.UBound(), 0);
}

void TestSocket::listenOnBusyPortFailsWithReason()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    SocketArray array;
    array.setLocalPort(occupant.serverPort());
    QString reason;
    QVERIFY(!array.Listen(&reason));
    QVERIFY(!reason.isEmpty());
    QCOMPARE(array.State(0), int(Socket::Closed));
}

namespace {

qint64 cpuMicroseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 +
           usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

} // namespace

void TestSocket::acceptPausesWhileOutOfDescriptors()
{
    Server server;
    QSignalSpy paused(&server.array, &SocketArray::acceptPaused);
    QSignalSpy closes(&server.array, &SocketArray::CloseEvent);
    // Four clients whose descriptors exist before the limit comes down.
    std::vector<int> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit original{};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &original) == 0);
    // Room for two more descriptors: the server accepts two clients, then runs out. New
    // descriptors take the lowest free number, so the gaps below the highest are filled first.
    int highest = 0;
    const QStringList open = QDir(QStringLiteral("/proc/self/fd"))
                                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : open)
        highest = std::max(highest, name.toInt());
    std::vector<int> fillers;
    for (int fd = ::dup(0); fd >= 0; fd = ::dup(0)) {
        if (fd > highest) {
            ::close(fd);
            break;
        }
        fillers.push_back(fd);
    }
    rlimit lowered = original;
    lowered.rlim_cur = rlim_t(highest) + 1 + 2;
    QVERIFY(setrlimit(RLIMIT_NOFILE, &lowered) == 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int client : clients) {
        QCOMPARE(::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    QTRY_COMPARE(paused.size(), 1);
    QCOMPARE(server.accepted.size(), 2);
    QVERIFY(server.array.isAcceptPaused());

    // Trying again every 100 ms: one report, and the processor stays free.
    const qint64 cpuBefore = cpuMicroseconds();
    QTest::qWait(500);
    QVERIFY2(cpuMicroseconds() - cpuBefore < 150000, "accepting spins");
    QCOMPARE(paused.size(), 1);
    QCOMPARE(server.accepted.size(), 2);

    // A connection that ends frees descriptors (both of its ends live here): the waiting ones
    // are accepted.
    ::close(clients.front());
    QVERIFY(closes.wait(5000));
    server.array.Close(closes.first().first().toInt());
    QTRY_COMPARE_WITH_TIMEOUT(server.accepted.size(), 4, 1000);
    QVERIFY(setrlimit(RLIMIT_NOFILE, &original) == 0);
    for (std::size_t i = 1; i < clients.size(); ++i)
        ::close(clients[i]);
    for (int fd : fillers)
        ::close(fd);
}

void TestSocket::pausedSocketReadsNothingUntilResumed()
{
    Server server;
    Socket client;
    QVERIFY(connectClient(client, server.port()));
    QTRY_COMPARE(server.accepted.size(), 1);
    Socket* accepted = server.array.element(1);
    QSignalSpy arrivals(&server.array, &SocketArray::DataArrivalEvent);
    accepted->setReceivePaused(true);
    // Far more than the socket may take while paused: the rest stays with the system and
    // the sender.
    const QByteArray bytes = allByteValues(64 * 1024); // 16 MiB
    client.SendData(bytes);
    QTest::qWait(200);
    QCOMPARE(arrivals.size(), 0);
    QVERIFY(accepted->BytesReceived() <= Socket::PausedReadBuffer);
    QVERIFY(client.BytesToWrite() > 0);

    accepted->setReceivePaused(false);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += server.array.GetData(1)).size() == bytes.size(), 5000);
    QCOMPARE(received, bytes);
}

void TestSocket::listeningSocketsOfBothKinds()
{
    // A Unix-domain line: this user's only, gone when closed.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("line"));
    tellaran::ListeningSocket local;
    QSignalSpy accepted(&local, &tellaran::ListeningSocket::accepted);
    QVERIFY(local.listenLocal(path));
    QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
    QLocalSocket caller;
    caller.connectToServer(path);
    QVERIFY(accepted.wait(5000));
    ::close(int(accepted.first().first().value<qintptr>()));
    local.close();
    QVERIFY(!QFile::exists(path));

    // A TCP port someone holds: the reason says so.
    tellaran::ListeningSocket first;
    QVERIFY(first.listenTcp(QHostAddress(QHostAddress::LocalHost), 0));
    tellaran::ListeningSocket second;
    QString error;
    QVERIFY(!second.listenTcp(QHostAddress(QHostAddress::LocalHost), first.port(), &error));
    QCOMPARE(second.lastErrorNumber(), EADDRINUSE);
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestSocket)
#include "test_socket.moc"
