// Two engines under load: a program far ahead of the line loses nothing and the transmit
// queue stays near its mark; a program that stops reading is closed while the others go on;
// and what the other computer sends cannot make this engine send or register anything.

#include "engine/channels/form2.h"
#include "engine/link/frames.h"
#include "tests/e2e/enginepair.h"
#include "tests/e2e/rawclient.h"

#include <QElapsedTimer>
#include <QTest>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

// Payload `index` of a burst: letters only, so no framing token can appear in it.
QByteArray burstPayload(int index, int size)
{
    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = char('a' + (index * 7 + i) % 26);
    return payload;
}

// Sends `total` bytes in payloads of `size` at once, and returns what must arrive.
QByteArray sendBurst(RawClient& program, qint64 total, int size)
{
    QByteArray expected;
    expected.reserve(total);
    for (int i = 0; expected.size() < total; ++i) {
        const QByteArray payload = burstPayload(i, size);
        expected += payload;
        program.send(payload);
    }
    return expected;
}

// The program's queue never held more than its mark and the one frame that crossed it.
bool queueStayedNearItsMark(TellaranEngine& engine, int payloadSize)
{
    const TransmitQueue& queue = engine.statusWindow().senddata();
    const qsizetype frame =
        frames::linkFrame(frames::channelFrame("CHAT0001", QByteArray(payloadSize, 'x')).chopped(7))
            .size();
    qInfo("transmit queue peak %lld bytes of one program (high-water mark %lld, frame %lld)",
          qint64(queue.peakBacklog()), qint64(queue.highWater()), qint64(frame));
    return queue.peakBacklog() <= queue.highWater() + frame;
}

} // namespace

class TestFlowControl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void programFarAheadOfAnUnpacedLineLosesNothing();
    void programFarAheadOfAPacedLineLosesNothing();
    void programThatStopsReadingIsClosedOthersGoOn();
    void otherComputerCannotMakeThisEngineActOrSend();
};

void TestFlowControl::programFarAheadOfAnUnpacedLineLosesNothing()
{
    EnginePair pair;
    RawClient ann(*pair.a.engine, "CHAT0001");
    RawClient bob(*pair.b.engine, "CHAT0001");
    QVERIFY(waitForRegistrations(*pair.b.engine, 1));
    QVERIFY(pair.call());
    const QByteArray expected = sendBurst(ann, 64 * 1024 * 1024, 64 * 1024);
    QTRY_COMPARE_WITH_TIMEOUT(bob.received.size(), expected.size(), 240000);
    QVERIFY(bob.received == expected);
    QVERIFY(queueStayedNearItsMark(*pair.a.engine, 64 * 1024));
    QCOMPARE(pair.a.engine->statusWindow().senddata().droppedFrames(), 0);
    QVERIFY(pair.a.boxes->boxes().isEmpty());
}

void TestFlowControl::programFarAheadOfAPacedLineLosesNothing()
{
    EnginePair pair(8000000);
    RawClient ann(*pair.a.engine, "CHAT0001");
    RawClient bob(*pair.b.engine, "CHAT0001");
    QVERIFY(waitForRegistrations(*pair.b.engine, 1));
    QVERIFY(pair.call());
    QElapsedTimer clock;
    clock.start();
    const QByteArray expected = sendBurst(ann, 4 * 1024 * 1024, 16 * 1024);
    QTRY_COMPARE_WITH_TIMEOUT(bob.received.size(), expected.size(), 60000);
    qInfo("4 MiB at 8000000 bit/s took %.1f s", double(clock.elapsed()) / 1000);
    QVERIFY(bob.received == expected);
    QVERIFY(queueStayedNearItsMark(*pair.a.engine, 16 * 1024));
}

void TestFlowControl::programThatStopsReadingIsClosedOthersGoOn()
{
    EnginePair pair;
    RawClient annSlow(*pair.a.engine, "SLOW0001");
    RawClient annChat(*pair.a.engine, "CHAT0001");
    RawClient bobSlow(*pair.b.engine, "SLOW0001");
    RawClient bobChat(*pair.b.engine, "CHAT0001");
    QVERIFY(waitForRegistrations(*pair.b.engine, 2));
    QVERIFY(pair.call());
    bobSlow.stopReading();

    sendBurst(annSlow, 32 * 1024 * 1024, 64 * 1024);
    // The chat goes on while the slow program's data piles up at Bob's engine.
    for (int i = 0; i < 50; ++i) {
        annChat.send("line " + QByteArray::number(i) + '\n');
        QTest::qWait(20);
    }
    // Bob's engine closes the slow program's connection and forgets its registration.
    QTRY_COMPARE_WITH_TIMEOUT(pair.b.engine->statusWindow().channelTable().records().size(), 1,
                              120000);
    QCOMPARE(pair.b.engine->statusWindow().channelTable().records().first().dataId,
             QByteArray("CHAT0001"));
    QByteArray chat;
    for (int i = 0; i < 50; ++i)
        chat += "line " + QByteArray::number(i) + '\n';
    QTRY_COMPARE_WITH_TIMEOUT(bobChat.received, chat, 120000);
    annChat.send("after");
    QTRY_VERIFY_WITH_TIMEOUT(bobChat.received.endsWith("after"), 10000);
}

void TestFlowControl::otherComputerCannotMakeThisEngineActOrSend()
{
    EnginePair pair;
    RawClient ann(*pair.a.engine, "CHAT0001");
    RawClient bob(*pair.b.engine, "CHAT0001");
    QVERIFY(waitForRegistrations(*pair.a.engine, 1));
    QVERIFY(waitForRegistrations(*pair.b.engine, 1));
    QVERIFY(pair.call());
    // Bob's side writes a link frame of its own making straight onto the line: after a
    // terminator inside it hide a channel frame (which Ann's engine would send back to Bob)
    // and a registration.
    pair.b.engine->modemPort().Output(
        "<modem><CHAT0001>abcdefghijklmnopqrstuvwxyz" + frames::Terminator.toByteArray() +
        "<CHAT0001>evil<CHAT0001>" + frames::Terminator.toByteArray() +
        "<request>EVIL0001<CHAT0001><xodem>\r");
    // Ann's program gets what preceded the terminator, cut by the frame's fixed positions.
    QTRY_COMPARE_WITH_TIMEOUT(ann.received, QByteArray("abcdefghi"), 5000);
    ann.send("marker");
    QTRY_COMPARE_WITH_TIMEOUT(bob.received, QByteArray("marker"), 5000);
    QCOMPARE(pair.a.engine->statusWindow().channelTable().records().size(), 1);
}

QTEST_MAIN(TestFlowControl)
#include "test_flow_control.moc"
