// The transmit queue as the drain sees it: frames of many connections share the line in turn,
// only the piece about to be written is committed, and each connection is paused on its own
// backlog, to the byte.
#include "engine/channels/transmitqueue.h"

#include <QTest>
#include <algorithm>
#include <cstdlib>

using namespace tellaran;

namespace {

// A link frame of `size` bytes, told apart by its letter.
QByteArray frameOf(char letter, qsizetype size)
{
    return QByteArray(size, letter);
}

// Records the pauses the queue asks for, and the connection of each committed frame.
struct Observed
{
    explicit Observed(TransmitQueue& queue)
    {
        queue.setFlowObserver([this](int connection, bool paused) {
            changes.append({connection, paused});
        });
        queue.setCommitObserver([this](FairQueue::FlowId, int connection, const QByteArray& frame) {
            commits.append({connection, frame});
        });
    }
    QList<QPair<int, bool>> changes;
    QList<QPair<int, QByteArray>> commits;
};

} // namespace

class TestTransmitQueue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void idleConnectionGoesBeforeABacklog();
    void busyConnectionsShareTheLineByBytes();
    void marksHoldToTheByte();
    void connectionsArePausedApart();
    void closedConnectionsFramesStillGoInOrder();
};

void TestTransmitQueue::idleConnectionGoesBeforeABacklog()
{
    TransmitQueue queue;
    Observed observed(queue);
    for (int i = 0; i < 100; ++i)
        queue.enqueue(1, frameOf('a', 1035));
    // A piece of 1024 commits the one frame it begins, no more.
    QCOMPARE(queue.take(1024), frameOf('a', 1024));
    QCOMPARE(queue.committed(), 11);
    QCOMPARE(queue.backlog(1), 99 * 1035);

    // The chat's frame comes while that piece is on the line: the next piece ends the frame
    // begun and carries the chat's frame; the next bulk frame would not fit, so it waits.
    const QByteArray chat = frameOf('c', 51);
    queue.enqueue(2, chat);
    QCOMPARE(queue.take(1024), frameOf('a', 11) + chat);
    QCOMPARE(queue.take(1024), frameOf('a', 1024));
    QCOMPARE(observed.commits.size(), 3);
    QCOMPARE(observed.commits[1].first, 2);

    // Frames appended straight to the line are cut into full pieces, as always.
    TransmitQueue raw;
    raw.append(QByteArray(1200, 'r'));
    QCOMPARE(raw.take(512).size(), 512);
    QCOMPARE(raw.take(512).size(), 512);
    QCOMPARE(raw.take(512).size(), 176);
    QVERIFY(raw.isEmpty());
}

void TestTransmitQueue::busyConnectionsShareTheLineByBytes()
{
    // Two connections with equal frames alternate frame by frame.
    TransmitQueue queue;
    Observed observed(queue);
    for (int i = 0; i < 8; ++i) {
        queue.enqueue(1, frameOf('a', 1000));
        queue.enqueue(2, frameOf('b', 1000));
    }
    while (!queue.isEmpty())
        queue.take(1000);
    QCOMPARE(observed.commits.size(), 16);
    for (int i = 0; i < 16; ++i)
        QCOMPARE(observed.commits[i].first, 1 + i % 2);

    // Unequal frames: while both have frames waiting, their bytes on the line never differ
    // by more than a quantum and a frame.
    TransmitQueue mixed;
    Observed seen(mixed);
    for (int i = 0; i < 300; ++i)
        mixed.enqueue(1, frameOf('a', 1035));
    for (int i = 0; i < 1000; ++i)
        mixed.enqueue(2, frameOf('b', 300));
    qint64 bytes[3] = {0, 0, 0};
    qsizetype worst = 0;
    while (mixed.backlog(1) > 0 && mixed.backlog(2) > 0) {
        mixed.take(1024);
        for (const auto& [connection, frame] : std::as_const(seen.commits))
            bytes[connection] += frame.size();
        seen.commits.clear();
        worst = std::max<qsizetype>(worst, std::abs(bytes[1] - bytes[2]));
    }
    QVERIFY2(worst <= FairQueue::DefaultQuantum + 1035, qPrintable(QString::number(worst)));
}

void TestTransmitQueue::marksHoldToTheByte()
{
    TransmitQueue queue;
    Observed observed(queue);
    queue.setWaterMarks(100, 50);
    queue.enqueue(1, frameOf('a', 51));
    queue.enqueue(1, frameOf('b', 1));
    queue.enqueue(1, frameOf('c', 48));
    // Exactly at the high mark: not paused. One byte more: paused.
    QCOMPARE(queue.backlog(1), 100);
    QVERIFY(!queue.isPaused(1) && observed.changes.isEmpty());
    queue.enqueue(1, frameOf('d', 1));
    QVERIFY(queue.isPaused(1));
    QCOMPARE(observed.changes, (QList<QPair<int, bool>>{{1, true}}));
    // Exactly at the low mark: still paused. One byte less: it may send again.
    QCOMPARE(queue.take(51), frameOf('a', 51));
    QCOMPARE(queue.backlog(1), 50);
    QVERIFY(queue.isPaused(1));
    QCOMPARE(queue.take(1), frameOf('b', 1));
    QCOMPARE(queue.backlog(1), 49);
    QVERIFY(!queue.isPaused(1));
    QCOMPARE(observed.changes, (QList<QPair<int, bool>>{{1, true}, {1, false}}));

    // The total mark, to the byte too: above it, only connections with more than a turn's
    // worth waiting are held back.
    TransmitQueue total;
    Observed told(total);
    total.setTotalWaterMarks(3000, 2000);
    total.enqueue(1, frameOf('a', 2000));
    total.enqueue(2, frameOf('b', 1000));
    QVERIFY(told.changes.isEmpty());
    total.enqueue(3, frameOf('c', 1));
    QCOMPARE(told.changes, (QList<QPair<int, bool>>{{1, true}}));
    // Exactly at the total's low mark the pressure stays; one byte under, it ends.
    total.take(1000); // the 'b' frame goes first: 'a' is more than one turn's credit
    QCOMPARE(total.take(1).size(), 1);
    QCOMPARE(total.size(), 2000 + 0);
    QVERIFY(total.isPaused(1));
    QCOMPARE(total.take(1024).size(), 1024);
    QVERIFY(!total.isPaused(1));
}

void TestTransmitQueue::connectionsArePausedApart()
{
    TransmitQueue queue;
    Observed observed(queue);
    queue.setWaterMarks(4000, 2000);
    for (int i = 0; i < 10; ++i)
        queue.enqueue(1, frameOf('a', 1000));
    QVERIFY(queue.isPaused(1));
    // The busy connection's backlog holds back nobody else.
    queue.enqueue(2, frameOf('b', 1000));
    queue.enqueue(2, frameOf('b', 1000));
    QVERIFY(!queue.isPaused(2));
    QCOMPARE(observed.changes, (QList<QPair<int, bool>>{{1, true}}));

    // Many busy connections press on the total; one that sends a frame now and then goes on.
    TransmitQueue shared;
    Observed told(shared);
    for (int connection = 1; connection <= 40; ++connection) {
        for (int i = 0; i < 40; ++i)
            shared.enqueue(connection, frameOf('x', 1000));
    }
    QVERIFY(shared.isPaused(1) && shared.isPaused(40));
    // Every busy connection has had its turn; then a frame of a connection that was idle goes
    // with the next piece, and it alone is not held back.
    for (int i = 0; i < 50; ++i)
        shared.take(1000);
    shared.enqueue(41, frameOf('c', 51));
    QVERIFY(!shared.isPaused(41));
    QCOMPARE(shared.take(1024), frameOf('c', 51));
    QCOMPARE(shared.droppedFrames(), 0);
}

void TestTransmitQueue::closedConnectionsFramesStillGoInOrder()
{
    TransmitQueue queue;
    Observed observed(queue);
    queue.setWaterMarks(2000, 1000);
    for (int i = 0; i < 3; ++i)
        queue.enqueue(1, frameOf(char('a' + i), 1000));
    QVERIFY(queue.isPaused(1));
    queue.connectionClosed(1);
    // A new connection under the same index waits apart and is not held by the old frames.
    queue.enqueue(1, frameOf('n', 10));
    QCOMPARE(queue.backlog(1), 10);
    QVERIFY(!queue.isPaused(1));
    QCOMPARE(queue.senddata(),
             frameOf('a', 1000) + frameOf('n', 10) + frameOf('b', 1000) + frameOf('c', 1000));
    QByteArray sent;
    while (!queue.isEmpty())
        sent += queue.take(1024);
    QCOMPARE(sent.size(), 3010);
    sent.remove(sent.indexOf('n'), 10);
    QCOMPARE(sent, frameOf('a', 1000) + frameOf('b', 1000) + frameOf('c', 1000));
    // Nothing was told about the closed connection after its close.
    QCOMPARE(observed.changes, (QList<QPair<int, bool>>{{1, true}}));
}

QTEST_GUILESS_MAIN(TestTransmitQueue)
#include "test_transmitqueue.moc"
