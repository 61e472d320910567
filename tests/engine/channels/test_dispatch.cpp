#include "engine/channels/channelconnections.h"
#include "engine/channels/channeltable.h"
#include "engine/channels/enginemodemoutput.h"
#include "engine/channels/framedispatcher.h"
#include "engine/channels/transmitdrain.h"
#include "engine/channels/transmitqueue.h"
#include "tests/support/fakeengine.h"

#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

using namespace tellaran;
using tellaran::testing::FakeEngine;

namespace {

using Sent = QList<QPair<int, QByteArray>>;

class FakeConnections : public ChannelConnections
{
public:
    bool isConnected(int index) const override { return connected.contains(index); }
    void SendData(int index, const QByteArray& data) override { sent.append({index, data}); }
    QSet<int> connected;
    Sent sent;
};

// A port whose output buffer empties a moment after each write.
class FakeModemOutput : public ModemOutput
{
public:
    bool isReady() const override { return ready; }
    int outBufferSize() const override { return bufferSize; }
    int outBufferCount() const override { return count; }
    void output(const QByteArray& bytes) override
    {
        writesIntoFullBuffer += count > 0 ? 1 : 0;
        pieces.append(bytes);
        count += int(bytes.size());
        QTimer::singleShot(emptyAfterMs, &context, [this] { count = 0; });
    }
    int emptyAfterMs = 2;
    bool ready = true;
    int bufferSize = 512;
    int count = 0;
    int writesIntoFullBuffer = 0;
    QByteArrayList pieces;
    QObject context; // cancels the emptying when the output goes with its drain
};

struct Channels
{
    FakeEngine engine;
    ChannelTable table{engine};
    FakeConnections connections;
    TransmitQueue senddata;
    FrameDispatcher dispatcher{engine, table, connections, senddata};
};

struct Drain
{
    FakeEngine engine;
    TransmitQueue senddata;
    FakeModemOutput* output = new FakeModemOutput;
    TransmitDrain drain{senddata, std::unique_ptr<ModemOutput>(output), engine.counters()};
};

QByteArray relayed(const QByteArray& dataId, const QByteArray& payload)
{
    return "<modem><" + dataId + ">" + payload + "<" + dataId + "><xodem>";
}

} // namespace

class TestDispatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void localFramesGoToTheModemQueue();
    void relayedFramesReachTheirChannelOrTheMessageHook();
    void heldFramesAreRetriedByTimerunk();
    void drainWritesPiecesNoLargerThanTheBuffer();
    void drainWakesAsSoonAsThePortHasSent();
    void drainTakesFramesQueuedWhileItWaits();
    void drainWaitsForTheCall();
    void drainSurvivesBeingDestroyedWhileItWaits();
    void drainStartsAtOnceOnAnIdleLine();
};

void TestDispatch::localFramesGoToTheModemQueue()
{
    Channels c;
    c.dispatcher.DispatchFrame("<CHAT0001>hi<CHAT0001>");
    c.dispatcher.DispatchFrame(QByteArray());
    QCOMPARE(c.senddata.senddata(), frames::linkFrame("<CHAT0001>hi<CHAT0001>"));
    // Past the cap the new frame is dropped; smaller ones still fit.
    c.senddata.setCap(100);
    c.dispatcher.DispatchFrame("<A>" + QByteArray(100, 'x') + "<A>");
    c.dispatcher.DispatchFrame("<A>small<A>");
    QCOMPARE(c.senddata.senddata(),
             frames::linkFrame("<CHAT0001>hi<CHAT0001>") + frames::linkFrame("<A>small<A>"));
}

void TestDispatch::relayedFramesReachTheirChannelOrTheMessageHook()
{
    Channels c;
    c.table.Register(4, "CHAT0001");
    c.connections.connected = {4};
    c.dispatcher.DispatchFrame(relayed("CHAT0001", "hello"));
    c.dispatcher.DispatchFrame("<modem><msgbox>Hi there<msgbox><xodem>");
    QCOMPARE(c.connections.sent, Sent({{4, "hello"}}));
    QCOMPARE(c.engine.userMessages, QByteArrayList({"Hi there"}));

    // Too short for the fixed positions: no effect at all, not even a held slot.
    c.dispatcher.DispatchFrame("<modem><msgbox><msgbox><xodem");
    c.dispatcher.DispatchFrame("<modem><CHAT0001><CHAT0001><xodem");
    QCOMPARE(c.connections.sent.size(), 1);
    QCOMPARE(c.engine.userMessages.size(), 1);
    QVERIFY(c.senddata.isEmpty() && c.dispatcher.pendingframes()[0].isEmpty());

    // Random frames behind every kind of head.
    QRandomGenerator random(7);
    const QByteArrayList heads = {"<modem>", "<modem><msgbox>", "<modem><CHAT0001>", ""};
    for (int i = 0; i < 2000; ++i) {
        QByteArray frame(random.bounded(0, 600), Qt::Uninitialized);
        for (char& ch : frame)
            ch = char(random.bounded(256));
        c.dispatcher.DispatchFrame(heads[random.bounded(heads.size())] + frame);
        if (i % 100 == 0)
            c.dispatcher.Timerunk_Timer();
    }
    QVERIFY(c.connections.sent.size() > 1);
}

void TestDispatch::heldFramesAreRetriedByTimerunk()
{
    Channels c;
    const QByteArray waiting = relayed("LATE0001", "first");
    c.dispatcher.DispatchFrame(waiting);
    c.dispatcher.DispatchFrame(waiting); // held once
    for (int i = 1; i <= FrameDispatcher::PendingSlots; ++i)
        c.dispatcher.DispatchFrame(relayed("NONE0001", QByteArray::number(i)));
    QCOMPARE(c.dispatcher.pendingframes()[0], waiting);
    QCOMPARE(c.dispatcher.pendingframes()[9], relayed("NONE0001", "9"));
    const auto& held = c.dispatcher.pendingframes();
    QVERIFY(std::find(held.begin(), held.end(), relayed("NONE0001", "10")) == held.end());

    // The channel registers: the next tick delivers and frees the slot for the next frame.
    c.table.Register(2, "LATE0001");
    c.connections.connected = {2};
    c.dispatcher.Timerunk.start(10);
    QTRY_COMPARE(c.connections.sent, Sent({{2, "first"}}));
    QVERIFY(c.dispatcher.pendingframes()[0].isEmpty());
    c.dispatcher.DispatchFrame(relayed("NONE0001", "11"));
    QCOMPARE(c.dispatcher.pendingframes()[0], relayed("NONE0001", "11"));
}

void TestDispatch::drainWritesPiecesNoLargerThanTheBuffer()
{
    Drain d;
    QSignalSpy written(&d.drain, &TransmitDrain::pieceWritten);
    d.senddata.append(QByteArray(1200, 'a'));
    d.drain.Timer4_Timer();
    QCOMPARE(d.output->pieces,
             QByteArrayList({QByteArray(512, 'a'), QByteArray(512, 'a'), QByteArray(176, 'a')}));
    QCOMPARE(d.output->writesIntoFullBuffer, 0);
    QCOMPARE(d.engine.counters().bytessent, 1200);
    QCOMPARE(written.size(), 3);
    QVERIFY(d.senddata.isEmpty() && d.drain.Timer4.isActive());

    // A port that reports no buffer size is written 1024 bytes at a time.
    d.output->pieces.clear();
    d.output->bufferSize = 0;
    d.senddata.append(QByteArray(1500, 'b'));
    d.drain.Timer4_Timer();
    QCOMPARE(d.output->pieces, QByteArrayList({QByteArray(1024, 'b'), QByteArray(476, 'b')}));
}

void TestDispatch::drainWakesAsSoonAsThePortHasSent()
{
    // A port that sends each piece within one pass of the event loop must not cost a poll
    // interval per piece: the drain looks again after every batch of events.
    Drain d;
    d.output->emptyAfterMs = 0;
    d.drain.setWaitPollInterval(10000);
    d.senddata.append(QByteArray(100 * 512, 'a'));
    // Were it waiting for the poll, the port going away would cut the drain short.
    QTimer::singleShot(3000, &d.output->context, [&] { d.output->ready = false; });
    d.drain.Timer4_Timer();
    QCOMPARE(d.output->pieces.size(), 100);
    QVERIFY(d.senddata.isEmpty());
}

void TestDispatch::drainTakesFramesQueuedWhileItWaits()
{
    Drain d;
    d.output->bufferSize = 100;
    QSignalSpy finished(&d.drain, &TransmitDrain::drainFinished);
    d.senddata.append(QByteArray(150, 'a'));
    bool timerOffDuringDrain = false;
    QTimer::singleShot(0, [&] {
        d.senddata.append(QByteArray(130, 'b'));
        timerOffDuringDrain = !d.drain.Timer4.isActive();
        d.drain.Timer4_Timer(); // no second drain inside the first
    });
    d.drain.Timer4_Timer();
    QVERIFY(timerOffDuringDrain);
    QCOMPARE(d.output->pieces.join(), QByteArray(150, 'a') + QByteArray(130, 'b'));
    QCOMPARE(d.output->pieces.size(), 3);
    QCOMPARE(d.output->writesIntoFullBuffer, 0);
    QCOMPARE(finished.size(), 1);
    QVERIFY(d.senddata.isEmpty());
}

void TestDispatch::drainWaitsForTheCall()
{
    // Asking before the call neither writes nor loads the modem window.
    Drain d;
    TransmitDrain idle(d.senddata, std::make_unique<EngineModemOutput>(d.engine),
                       d.engine.counters());
    d.senddata.append("<modem><A>x<A><xodem>\r");
    idle.Timer4_Timer();
    QCOMPARE(d.engine.modemPortReached, 0);
    QCOMPARE(d.senddata.size(), 22);

    // Queued frames leave with the first drain of the call; if the port goes away
    // mid-drain, the rest waits for the next one.
    d.output->ready = false;
    d.output->bufferSize = 10;
    d.senddata.append(QByteArray(18, 'z'));
    d.drain.Timer4_Timer();
    QVERIFY(d.output->pieces.isEmpty());
    d.output->ready = true;
    QTimer::singleShot(0, [&] { d.output->ready = false; });
    d.drain.Timer4_Timer();
    QCOMPARE(d.output->pieces.size(), 1);
    QCOMPARE(d.senddata.size(), 30);
    d.output->ready = true;
    QTRY_VERIFY(d.senddata.isEmpty());
    QCOMPARE(d.output->pieces.join(), "<modem><A>x<A><xodem>\r" + QByteArray(18, 'z'));
}

void TestDispatch::drainSurvivesBeingDestroyedWhileItWaits()
{
    FakeEngine engine;
    TransmitQueue senddata;
    auto* drain =
        new TransmitDrain(senddata, std::make_unique<FakeModemOutput>(), engine.counters());
    senddata.append(QByteArray(2000, 'q'));
    QTimer::singleShot(0, [drain] { delete drain; });
    drain->Timer4_Timer(); // returns without touching the deleted drain
    QCOMPARE(engine.counters().bytessent, 512);
}

void TestDispatch::drainStartsAtOnceOnAnIdleLine()
{
    Drain d;
    d.drain.Timer4.stop(); // no tick can help
    QSignalSpy finished(&d.drain, &TransmitDrain::drainFinished);
    d.senddata.append(QByteArray(1200, 'a'));
    d.drain.FrameQueued();
    QCOMPARE(d.output->pieces.size(), 1); // in the same pass
    QVERIFY(d.drain.isDraining());
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(d.output->pieces,
             QByteArrayList({QByteArray(512, 'a'), QByteArray(512, 'a'), QByteArray(176, 'a')}));
    QCOMPARE(d.output->writesIntoFullBuffer, 0);
    QVERIFY(!d.drain.Timer4.isActive());

    // A port still sending, or no call: the frame waits for the tick's rules.
    d.output->pieces.clear();
    d.output->count = 1;
    d.senddata.append("busy");
    d.drain.FrameQueued();
    d.output->count = 0;
    d.output->ready = false;
    d.drain.FrameQueued();
    QVERIFY(d.output->pieces.isEmpty() && !d.drain.isDraining());
    d.output->ready = true;
    d.drain.Timer4_Timer();
    QCOMPARE(d.output->pieces, QByteArrayList{"busy"});
}

QTEST_GUILESS_MAIN(TestDispatch)
#include "test_dispatch.moc"
