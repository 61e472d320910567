#include "engine/channels/form2.h"
#include "engine/link/frames.h"
#include "tests/support/fakeengine.h"
#include "tests/support/localclient.h"
#include "tests/support/logcapture.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

using namespace tellaran;
using tellaran::testing::connectClient;
using tellaran::testing::FakeEngine;
using tellaran::testing::send;

namespace {} // namespace

class TestChannelServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadListensAndNumbersConnections();
    void registrationsAndFramesPerConnection();
    void relayedPayloadReachesTheRegisteredConnection();
    void onlyThisComputerWithinTheLimitMayConnect();
    void listenFailureIsReported();
    void randomBytesStayWithinTheCap();
    void theEnginesOwnConnectionIsNamedInTheLog();
};

void TestChannelServer::loadListensAndNumbersConnections()
{
    FakeEngine engine;
    engine.writeDataFile("requests.dat", "4,\"STALE001\"\r\n");
    Form2 form(engine);
    QCOMPARE(form.windowTitle(), QString("Control Panel"));
    QVERIFY(form.isListening() && !form.isVisible());
    QCOMPARE(engine.readDataFile("requests.dat"), QByteArray());

    // Indices 1, 2, 3 ...: a closed connection's index is not the next one given.
    SocketArray& listener = form.channelServer().Listener();
    auto first = connectClient(engine.channelPort());
    QTRY_COMPARE(listener.UBound(), 1);
    auto second = connectClient(engine.channelPort());
    QTRY_COMPARE(listener.UBound(), 2);
    first->disconnectFromHost();
    QTRY_VERIFY(!form.channelServer().splitter(1));
    QCOMPARE(listener.State(1), int(Socket::Closed));
    QVERIFY(!listener.isLoaded(1));
    auto third = connectClient(engine.channelPort());
    QTRY_COMPARE(listener.UBound(), 3);
    QTRY_VERIFY(form.channelServer().isConnected(3));

    // At the program's end every local program sees its connection close.
    form.shutDown();
    QTRY_COMPARE(second->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(third->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!form.Timer4().isActive() && !form.Timerunk().isActive());

    QVERIFY(ChannelServer::isThisComputer(QHostAddress("127.0.0.1")));
    QVERIFY(ChannelServer::isThisComputer(QHostAddress("::ffff:127.0.0.1")));
    QVERIFY(!ChannelServer::isThisComputer(QHostAddress("192.0.2.1")));
}

void TestChannelServer::registrationsAndFramesPerConnection()
{
    FakeEngine engine;
    Form2 form(engine);
    auto a = connectClient(engine.channelPort());
    QTRY_COMPARE(form.channelServer().Listener().UBound(), 1);
    auto b = connectClient(engine.channelPort());
    QTRY_COMPARE(form.channelServer().Listener().UBound(), 2);

    // The frame in the same block as the registration is not swallowed.
    send(*a, "<request>CHAT0001<CHAT0001>hi<CHAT0001>KvekEND");
    QTRY_COMPARE(engine.counters().noofchan, 1);
    QCOMPARE(engine.readDataFile("requests.dat"), QByteArray("1,\"CHAT0001\"\r\n"));
    QTRY_COMPARE(form.senddata().senddata(), frames::linkFrame("<CHAT0001>hi<CHAT0001>"));
    form.senddata().clear();

    // Interleaved halves: each connection continues only its own frame.
    send(*a, "<CHAT0001>from");
    QTRY_COMPARE(form.channelServer().splitter(1)->buffered(), 14);
    send(*b, "<msgbox>Hi th"); // b never registered; its frames are dispatched all the same
    QTRY_COMPARE(form.channelServer().splitter(2)->buffered(), 13);
    send(*a, " a<CHAT0001>Kvek");
    QTRY_COMPARE(form.channelServer().splitter(1)->buffered(), 30);
    send(*b, "ere<msgbox>KvekEND");
    QTRY_COMPARE(form.senddata().senddata(), frames::linkFrame("<msgbox>Hi there<msgbox>"));
    send(*a, "END");
    QTRY_COMPARE(form.senddata().senddata(), frames::linkFrame("<msgbox>Hi there<msgbox>") +
                                                 frames::linkFrame("<CHAT0001>from a<CHAT0001>"));

    // A second registration of the same connection; both records go when it closes.
    send(*a, "<request>CHAT0002");
    QTRY_COMPARE(engine.counters().noofchan, 2);
    a->disconnectFromHost();
    QTRY_COMPARE(engine.counters().noofchan, 0);
    QCOMPARE(engine.readDataFile("requests.dat"), QByteArray());
    // A connection that never registered closes without touching the count.
    b->disconnectFromHost();
    QTRY_VERIFY(!form.channelServer().splitter(2));
    QCOMPARE(engine.counters().noofchan, 0);
}

void TestChannelServer::relayedPayloadReachesTheRegisteredConnection()
{
    FakeEngine engine;
    Form2 form(engine);
    form.Timerunk().setInterval(20);
    auto relay = connectClient(engine.channelPort()); // the modem side's own client
    QTRY_COMPARE(form.channelServer().Listener().UBound(), 1);
    // Arrives before its channel registers: held, then delivered by a retry.
    send(*relay, frames::relayFrame("<modem><CHAT0001>hello<CHAT0001><xodem>"));
    QTRY_VERIFY(!form.dispatcher().pendingframes()[0].isEmpty());

    auto app = connectClient(engine.channelPort());
    QTRY_COMPARE(form.channelServer().Listener().UBound(), 2);
    send(*app, frames::registration("CHAT0001"));
    QTRY_COMPARE(app->bytesAvailable(), 5);
    QCOMPARE(app->readAll(), QByteArray("hello"));
    QVERIFY(form.dispatcher().pendingframes()[0].isEmpty());

    send(*relay,
         frames::relayFrame(QByteArray("<modem><CHAT0001>\r\nbare\0<CHAT0001><xodem>", 41)));
    QTRY_COMPARE(app->bytesAvailable(), 7);
    QCOMPARE(app->readAll(), QByteArray("\r\nbare\0", 7));
}

void TestChannelServer::onlyThisComputerWithinTheLimitMayConnect()
{
    FakeEngine engine;
    Form2 form(engine);
    ChannelServer& server = form.channelServer();
    QSignalSpy refused(&server, &ChannelServer::connectionRefused);

    server.setPeerCheck([](const QHostAddress&) { return false; });
    auto stranger = connectClient(engine.channelPort());
    QTRY_COMPARE(refused.size(), 1);
    QTRY_COMPARE(stranger->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(server.Listener().UBound(), 0);

    server.setPeerCheck(&ChannelServer::isThisComputer);
    server.setConnectionLimit(2);
    auto one = connectClient(engine.channelPort());
    auto two = connectClient(engine.channelPort());
    QTRY_COMPARE(server.Listener().UBound(), 2);
    auto three = connectClient(engine.channelPort());
    QTRY_COMPARE(refused.size(), 2);
    QTRY_COMPARE(three->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(server.Listener().UBound(), 2);
    // The others go on being served.
    send(*two, "<X>still<X>KvekEND");
    QTRY_COMPARE(form.senddata().senddata(), frames::linkFrame("<X>still<X>"));

    // At the limit the log says why a program was refused; once one closes, its index
    // serves the next program.
    QTest::ignoreMessage(QtWarningMsg,
                         "Refusing a local program: all 2 connection indexes are in use");
    auto four = connectClient(engine.channelPort());
    QTRY_COMPARE(refused.size(), 3);
    one->disconnectFromHost();
    QTRY_VERIFY(!server.Listener().isLoaded(1));
    auto five = connectClient(engine.channelPort());
    QTRY_VERIFY(server.isConnected(1));
    QCOMPARE(refused.size(), 3);
    QCOMPARE(server.Listener().count(), 2);
}

void TestChannelServer::listenFailureIsReported()
{
    FakeEngine engine;
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, engine.channelPort()));
    Form2 form(engine);
    QVERIFY(!form.isListening());
    QTRY_COMPARE(engine.boxes.boxes().size(), 1);
    QVERIFY(engine.boxes.texts().first().contains(QString::number(engine.channelPort())));
}

void TestChannelServer::randomBytesStayWithinTheCap()
{
    FakeEngine engine;
    Form2 form(engine);
    form.channelServer().setBufferCap(4096);
    form.senddata().setCap(64 * 1024);
    auto noisy = connectClient(engine.channelPort());
    QTRY_COMPARE(form.channelServer().Listener().UBound(), 1);

    QRandomGenerator random(99);
    QByteArray noise(2 * 1024 * 1024, Qt::Uninitialized);
    for (char& c : noise)
        c = char(random.bounded(256));
    for (int i = 0; i < 200; ++i)
        noise.insert(random.bounded(noise.size()), "KvekEND");
    send(*noisy, noise);
    // Everything sent before the close is read before the close is seen.
    noisy->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(!form.channelServer().splitter(1), 10000);
    QVERIFY(form.senddata().droppedFrames() > 0);
    QVERIFY(form.senddata().size() <= 64 * 1024);

    // The engine goes on serving the others.
    form.senddata().clear();
    auto app = connectClient(engine.channelPort());
    QTRY_COMPARE(form.channelServer().Listener().UBound(), 2);
    send(*app, "<ABCDEFGH>ok<ABCDEFGH>KvekEND");
    QTRY_COMPARE(form.senddata().senddata(), frames::linkFrame("<ABCDEFGH>ok<ABCDEFGH>"));
}

// The modem window's link is named as the engine's own, whether the modem window knows its
// end when the connection is accepted or only by its first block; a program is a stranger.
void TestChannelServer::theEnginesOwnConnectionIsNamedInTheLog()
{
    tellaran::testing::LogCapture log("tellaran.channels");
    FakeEngine engine;
    quint16 ownPort = 0;
    engine.ownRelayConnection = [&ownPort](const QHostAddress&, quint16 port) {
        return port == ownPort;
    };
    Form2 form(engine);
    auto early = connectClient(engine.channelPort());
    ownPort = early->localPort();
    auto late = connectClient(engine.channelPort());
    auto program = connectClient(engine.channelPort());
    QTRY_COMPARE(form.channelServer().Listener().UBound(), 3);
    ownPort = late->localPort();
    send(*late, frames::relayFrame("<modem><CHAT0001>x<CHAT0001><xodem>"));
    QTRY_COMPARE(log.lines.size(), 4);
    send(*program, frames::registration("CHAT0001"));
    QTRY_COMPARE(log.lines.size(), 5);
    const QString own =
        "is the engine's own: the modem window's link for the frames from the other computer";
    QStringList expected{"Local connection 1 " + own, "Local connection 2 from \"127.0.0.1\"",
                         "Local connection 3 from \"127.0.0.1\"", "Local connection 2 " + own,
                         "Local connection 3 registered as DataID CHAT0001"};
    QCOMPARE(log.texts(), expected);
}

QTEST_MAIN(TestChannelServer)
#include "test_channelserver.moc"
