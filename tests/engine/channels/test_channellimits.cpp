// The channel server under load and hostile input: flow control, the cap on what waits for a
// program that does not read, the carry-over budget, the engine's own connection, and
// DataIDs the table cannot hold.

#include "engine/channels/form2.h"
#include "engine/link/frames.h"
#include "tests/support/fakeengine.h"
#include "tests/support/localclient.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <sys/socket.h>
#include <vector>

using namespace tellaran;
using tellaran::testing::connectClient;
using tellaran::testing::FakeEngine;
using tellaran::testing::send;

namespace {

QByteArray channelFrames(int count, int firstNumber = 0)
{
    QByteArray bytes;
    for (int i = firstNumber; i < firstNumber + count; ++i)
        bytes += frames::channelFrame("CHAT0001", QByteArray::number(i));
    return bytes;
}

} // namespace

class TestChannelLimits : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeEngine> engine_;
    std::unique_ptr<Form2> form_;

    ChannelServer& server() { return form_->channelServer(); }
    // A client accepted as the next element.
    std::unique_ptr<QTcpSocket> accepted()
    {
        const int before = server().Listener().UBound();
        auto client = connectClient(engine_->channelPort());
        if (!QTest::qWaitFor([&] { return server().Listener().UBound() == before + 1; }))
            qWarning("the client was not accepted");
        return client;
    }

private Q_SLOTS:
    void init()
    {
        engine_ = std::make_unique<FakeEngine>();
        form_ = std::make_unique<Form2>(*engine_);
    }
    void cleanup()
    {
        form_.reset();
        engine_.reset();
    }

    void framesWaitWhileTheirConnectionIsAboveItsMark()
    {
        TransmitQueue& queue = form_->senddata();
        const QByteArray one = frames::linkFrame(frames::channelFrame("CHAT0001", "0").chopped(7));
        // Three frames are exactly at the mark; the fourth crosses it, the rest wait.
        queue.setWaterMarks(3 * one.size(), 2 * one.size());
        auto program = accepted();
        auto other = accepted();
        send(*program, channelFrames(10));
        QTRY_COMPARE(queue.backlog(1), 4 * one.size());
        QVERIFY(server().isConnectionPaused(1));
        QVERIFY(server().splitter(1)->isHolding());
        QTest::qWait(50); // give a wrong implementation the chance to queue more
        QCOMPARE(queue.backlog(1), 4 * one.size());

        // Another program is not held back by the first one's backlog.
        send(*other, frames::channelFrame("OTHR0001", "x"));
        QTRY_COMPARE(queue.backlog(2), one.size());
        QVERIFY(!server().isConnectionPaused(2));

        // At the low mark nothing moves; below it, the frames go on in order.
        queue.take(one.size());
        queue.take(one.size());
        QCOMPARE(queue.backlog(1), 2 * one.size());
        QVERIFY(server().isConnectionPaused(1));
        queue.take(one.size());
        QVERIFY(!server().isConnectionPaused(1));
        // Frames 4 to 6 follow, and 6 crosses the mark again.
        QTRY_COMPARE(queue.backlog(1), 4 * one.size());
        QVERIFY(server().isConnectionPaused(1));
        queue.clear();
        QTRY_COMPARE(queue.senddata(), frames::linkFrame(channelFrames(1, 7).chopped(7)) +
                                           frames::linkFrame(channelFrames(1, 8).chopped(7)) +
                                           frames::linkFrame(channelFrames(1, 9).chopped(7)));
        QVERIFY(queue.peakBacklog() <= queue.highWater() + one.size());
    }

    void pausedConnectionsAreNotReadAndResumeWithTheirClose()
    {
        TransmitQueue& queue = form_->senddata();
        queue.setWaterMarks(100, 50);
        auto program = accepted();
        send(*program, frames::channelFrame("CHAT0001", QByteArray(200, 'x')));
        QTRY_VERIFY(server().isConnectionPaused(1));
        // Sent while paused: the socket is not read, so nothing reaches the splitter.
        send(*program, channelFrames(4));
        program->disconnectFromHost();
        QTest::qWait(50);
        QCOMPARE(server().splitter(1)->buffered(), 0);
        // Three frames cross the mark again; the fourth waits, and the close waits behind it.
        queue.clear();
        QTRY_VERIFY(queue.senddata().endsWith(frames::linkFrame(channelFrames(1, 2).chopped(7))));
        QTest::qWait(50);
        QVERIFY(server().splitter(1) && server().splitter(1)->isHolding());
        queue.clear();
        QTRY_VERIFY(!server().splitter(1));
        QCOMPARE(queue.senddata(), frames::linkFrame(channelFrames(1, 3).chopped(7)));
    }

    void programThatDoesNotReadIsClosedPastTheRelayCap()
    {
        server().setRelayCap(1000);
        QSignalSpy dropped(&server(), &ChannelServer::connectionDropped);
        auto slow = accepted();
        auto other = accepted();
        send(*slow, frames::registration("SLOW0001"));
        send(*other, frames::registration("FAST0001"));
        QTRY_COMPARE(engine_->counters().noofchan, 2);
        // Queued bytes reach the system only from the event loop: these calls see them all.
        server().SendData(1, QByteArray(1000, 'a'));
        QCOMPARE(dropped.size(), 0);
        QVERIFY(server().isConnected(1));
        server().SendData(1, "b");
        QCOMPARE(dropped.size(), 1);
        QVERIFY(!server().isConnected(1));
        QCOMPARE(engine_->counters().noofchan, 1);
        QTRY_COMPARE(engine_->readDataFile("requests.dat"), QByteArray("2,\"FAST0001\"\r\n"));
        QTRY_COMPARE(slow->state(), QAbstractSocket::UnconnectedState);

        server().SendData(2, "still served");
        QTRY_COMPARE(other->bytesAvailable(), 12);
    }

    void carryOverBuffersStayWithinTheBudget()
    {
        QSignalSpy dropped(&server(), &ChannelServer::connectionDropped);
        auto big = accepted();
        auto small = accepted();
        auto good = accepted();
        const auto memoryOf = [this](int index) { return server().splitter(index)->memoryHeld(); };
        send(*big, QByteArray(6000, 'x'));
        QTRY_VERIFY(memoryOf(1) >= 6000);
        send(*small, QByteArray(3000, 'y'));
        QTRY_VERIFY(memoryOf(2) >= 3000);
        const qint64 total = memoryOf(1) + memoryOf(2);
        QCOMPARE(server().carryOverTotal(), total);
        const QByteArray frame = frames::channelFrame("GOOD0001", "ok");

        // At the budget nobody is closed; a frame that ends holds nothing.
        server().setCarryOverBudget(total);
        send(*good, frame);
        QTRY_VERIFY(form_->senddata().senddata().endsWith("ok<GOOD0001><xodem>\r"));
        QCOMPARE(server().carryOverTotal(), total);
        QCOMPARE(dropped.size(), 0);

        // One byte under the budget, the next block closes the connection holding the most.
        server().setCarryOverBudget(total - 1);
        form_->senddata().clear();
        send(*good, frame);
        QTRY_COMPARE(dropped.size(), 1);
        QCOMPARE(dropped.first().first().toInt(), 1);
        QCOMPARE(server().carryOverTotal(), memoryOf(2));
        QTRY_COMPARE(big->state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(form_->senddata().senddata().endsWith("ok<GOOD0001><xodem>\r"));

        // Frames that end give their memory back.
        send(*small, "KvekEND");
        QTRY_COMPARE(server().carryOverTotal(), 0);
    }

    void aCallServesAnyNumberOfConnections()
    {
        // Connection 32768 of a run, and more, after the earlier ones closed: each closed
        // connection gives back its index and its element. The programs reset their
        // connections, which leaves no ports waiting on this computer afterwards.
        constexpr int Batch = 256;
        constexpr int Total = ChannelServer::DefaultConnectionLimit + 2 * Batch;
        SocketArray& listener = server().Listener();
        for (int done = 0; done < Total; done += Batch) {
            std::vector<std::unique_ptr<QTcpSocket>> clients;
            for (int i = 0; i < Batch; ++i) {
                clients.push_back(std::make_unique<QTcpSocket>());
                clients.back()->connectToHost(QHostAddress::LocalHost, engine_->channelPort());
            }
            QTRY_COMPARE_WITH_TIMEOUT(listener.count(), Batch, 10000);
            for (auto& client : clients) {
                QVERIFY(client->waitForConnected(1000));
                const linger reset{1, 0};
                setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                           sizeof reset);
            }
            clients.clear();
            QTRY_COMPARE_WITH_TIMEOUT(listener.count(), 0, 10000);
        }
        QCOMPARE(listener.UBound(), 0);
        auto program = connectClient(engine_->channelPort());
        QTRY_COMPARE(listener.count(), 1);
        // The numbers have gone round once: the index is one given before.
        const int made = (Total + Batch - 1) / Batch * Batch;
        const int index = listener.UBound();
        QCOMPARE(index, made - ChannelServer::DefaultConnectionLimit + 1);
        send(*program, frames::registration("LATE0001"));
        QTRY_COMPARE(engine_->counters().noofchan, 1);
        QCOMPARE(form_->channelTable().records(), QList<ChannelRecord>({{index, "LATE0001"}}));
        server().SendData(index, "served");
        QTRY_COMPARE(program->bytesAvailable(), 6);
    }

    void ownConnectionCarriesRelayFramesOnly()
    {
        auto own = accepted();
        const quint16 ownPort = own->localPort();
        engine_->ownRelayConnection = [ownPort](const QHostAddress&, quint16 port) {
            return port == ownPort;
        };
        auto program = accepted();
        send(*program, frames::registration("CHAT0001"));
        QTRY_COMPARE(engine_->counters().noofchan, 1);

        // A registration, a local frame and a stray piece: none acts, the relay frame does.
        send(*own, "<request>EVIL0001");
        send(*own, "junk<CHAT0001>back<CHAT0001>KvekEND<msgbox>hi<msgbox>KvekEND" +
                       frames::relayFrame("<modem><CHAT0001>hello<CHAT0001><xodem>"));
        QTRY_COMPARE(program->bytesAvailable(), 5);
        QCOMPARE(program->readAll(), QByteArray("hello"));
        QVERIFY(server().isOwnConnection(1));
        QCOMPARE(engine_->counters().noofchan, 1);
        QCOMPARE(engine_->readDataFile("requests.dat"), QByteArray("2,\"CHAT0001\"\r\n"));
        QVERIFY(form_->senddata().isEmpty());
        QVERIFY(engine_->userMessages.isEmpty());

        // The own connection is never paused; local programs still go out.
        form_->senddata().setWaterMarks(10, 5);
        send(*program, frames::channelFrame("CHAT0001", "out"));
        QTRY_VERIFY(server().isConnectionPaused(2));
        server().setConnectionPaused(1, true);
        QVERIFY(!server().isConnectionPaused(1));
        send(*own, frames::relayFrame("<modem><CHAT0001>again<CHAT0001><xodem>"));
        QTRY_COMPARE(program->bytesAvailable(), 5);
    }

    void relayFrameEndsAtAnInnerTerminator()
    {
        QCOMPARE(frames::relayFrame("<modem><CHAT0001>aKvekEND<CHAT0001>b<CHAT0001><xodem>"),
                 QByteArray("<modem><CHAT0001>aKvekEND"));
        QCOMPARE(frames::relayFrame("<modem><X>KvekEN"), QByteArray("<modem><X>KvekENKvekEND"));
    }

    void dataIdsTheTableCannotHoldAreIgnored()
    {
        auto program = accepted();
        send(*program, frames::registration("GOOD0001"));
        QTRY_COMPARE(engine_->counters().noofchan, 1);
        const QByteArray before = engine_->readDataFile("requests.dat");
        for (const QByteArray& dataId : {QByteArray("AB\"\r\n3,\""), QByteArray("ABC\"DEFG"),
                                         QByteArray("ABCD\rEFG"), QByteArray("ABCDEFG\n")}) {
            auto bad = accepted();
            send(*bad, "<request>" + dataId);
            QTest::qWait(20);
        }
        // A registration that follows on a good connection shows the bad ones were read.
        auto later = accepted();
        send(*later, frames::registration("LATE0001"));
        QTRY_COMPARE(engine_->counters().noofchan, 2);
        QCOMPARE(engine_->readDataFile("requests.dat"), before + "6,\"LATE0001\"\r\n");
        QVERIFY(ChannelTable::IsStorableDataId("<>,' \t\x01\xff"));
    }
};

QTEST_MAIN(TestChannelLimits)
#include "test_channellimits.moc"
