// Two engines in one process, joined by virtual modems through a temporary exchange:
// payloads and user messages cross from a local program on one to a local program on the
// other, and a hang-up on one side ends the other.

#include "engine/channels/form2.h"
#include "engine/enginerunguard.h"
#include "engine/link/frames.h"
#include "engine/settings/settingsfile.h"
#include "tests/e2e/enginepair.h"
#include "tests/e2e/rawclient.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTest>
#include <csignal>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

QByteArray randomPayload(QRandomGenerator& random, int size)
{
    QByteArray payload(size, Qt::Uninitialized);
    for (char& c : payload) {
        // No '<' keeps every framing token out of the payload.
        do {
            c = char(random.bounded(256));
        } while (c == '<');
    }
    return payload;
}

} // namespace

class TestRelay : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void payloadsCrossBothWays();
    void framesSentBeforeTheCallLeaveWithIt();
    void userMessageReachesTheOtherEngine();
    void hangUpEndsTheOtherSide();
    void terminationSignalEndsTheCallAsDisconnectDoes();
    void frameOnAnIdleLineLeavesWithoutATick();
};

void TestRelay::payloadsCrossBothWays()
{
    EnginePair pair;
    RawClient annChat(*pair.a.engine, "CHAT0001");
    RawClient bobChat(*pair.b.engine, "CHAT0001");
    QVERIFY(waitForRegistrations(*pair.a.engine, 1));
    QVERIFY(waitForRegistrations(*pair.b.engine, 1));
    QVERIFY(pair.call());

    annChat.send("hello");
    QTRY_COMPARE_WITH_TIMEOUT(bobChat.received, QByteArray("hello"), 5000);
    bobChat.send("hi ann");
    QTRY_COMPARE_WITH_TIMEOUT(annChat.received, QByteArray("hi ann"), 5000);

    // A thousand payloads of random bytes arrive byte-exact and in order. The program gets
    // a byte stream: payloads that arrive together are delivered together.
    QRandomGenerator random(20261207);
    QByteArray expected;
    bobChat.received.clear();
    for (int i = 0; i < 1000; ++i) {
        const QByteArray payload = randomPayload(random, 1 + int(random.bounded(600)));
        expected += payload;
        annChat.send(payload);
    }
    QTRY_COMPARE_WITH_TIMEOUT(bobChat.received.size(), expected.size(), 30000);
    QCOMPARE(bobChat.received, expected);
    QVERIFY(pair.a.boxes->boxes().isEmpty());
    QVERIFY(pair.b.boxes->boxes().isEmpty());
}

void TestRelay::framesSentBeforeTheCallLeaveWithIt()
{
    EnginePair pair;
    RawClient annChat(*pair.a.engine, "CHAT0001");
    RawClient bobChat(*pair.b.engine, "CHAT0001");
    QVERIFY(waitForRegistrations(*pair.b.engine, 1));
    annChat.send("early bird");
    QVERIFY(
        QTest::qWaitFor([&] { return !pair.a.engine->statusWindow().senddata().isEmpty(); }, 5000));
    QVERIFY(pair.call());
    QTRY_COMPARE_WITH_TIMEOUT(bobChat.received, QByteArray("early bird"), 5000);
}

void TestRelay::userMessageReachesTheOtherEngine()
{
    EnginePair pair;
    QVERIFY(pair.call());
    RawClient messageWindow(*pair.a.engine, QByteArray());
    messageWindow.sendRaw(frames::messageFrame("Hi there"));
    QTRY_COMPARE_WITH_TIMEOUT(pair.b.engine->openMessages(), QByteArrayList{"Hi there"}, 5000);
}

void TestRelay::hangUpEndsTheOtherSide()
{
    EnginePair pair;
    RawClient annChat(*pair.a.engine, "CHAT0001");
    QVERIFY(waitForRegistrations(*pair.a.engine, 1));
    QVERIFY(pair.call());
    const QString requests = pair.a.engine->dataPath(QStringLiteral("requests.dat"));
    QVERIFY(QFile::exists(requests));

    // B hangs up by closing its port.
    pair.b.engine->modemPort().setPortOpen(false);
    QTRY_COMPARE_WITH_TIMEOUT(pair.a.ended, 1, 5000);
    QVERIFY(!pair.a.engine->modemConnected());
    QCOMPARE(pair.a.boxes->texts().last(), QStringLiteral("Remote computer disconnected"));
    QVERIFY(!QFile::exists(requests));
    QCOMPARE(SettingsFile(pair.a.engine->programDir()).ReadStoredTime(), QByteArray("00:00:00"));
    // The local program sees its connection end.
    QTRY_VERIFY_WITH_TIMEOUT(!annChat.isOpen(), 5000);
}

void TestRelay::terminationSignalEndsTheCallAsDisconnectDoes()
{
    EnginePair pair;
    RawClient annChat(*pair.a.engine, "CHAT0001");
    QVERIFY(waitForRegistrations(*pair.a.engine, 1));
    QVERIFY(pair.call());
    EngineRunGuard guard;
    guard.endOnTerminationSignals(*pair.a.engine);
    QTRY_VERIFY_WITH_TIMEOUT(pair.a.engine->dialerTimeText() != QStringLiteral("00:00:00"), 5000);

    // A logout or Ctrl+C: no question, the time stored, the call hung up, the table gone.
    QVERIFY(std::raise(SIGTERM) == 0);
    QTRY_COMPARE_WITH_TIMEOUT(pair.a.ended, 1, 5000);
    QVERIFY(pair.a.boxes->boxes().isEmpty());
    const QByteArray stored = SettingsFile(pair.a.engine->programDir()).ReadStoredTime();
    QCOMPARE(stored, pair.a.engine->dialerTimeText().toLatin1());
    QVERIFY(stored != "00:00:00");
    QVERIFY(!QFile::exists(pair.a.engine->dataPath(QStringLiteral("requests.dat"))));
    QVERIFY(!pair.a.engine->modemPort().PortOpen());
    // The other side's call ends.
    QTRY_COMPARE_WITH_TIMEOUT(pair.b.ended, 1, 10000);
    QCOMPARE(pair.b.boxes->texts().last(), QStringLiteral("Remote computer disconnected"));
}

void TestRelay::frameOnAnIdleLineLeavesWithoutATick()
{
    EnginePair pair;
    RawClient annChat(*pair.a.engine, "CHAT0001");
    RawClient bobChat(*pair.b.engine, "CHAT0001");
    QVERIFY(waitForRegistrations(*pair.b.engine, 1));
    QVERIFY(pair.call());
    pair.a.engine->statusWindow().Timer4().stop();
    annChat.send("no tick needed");
    QTRY_COMPARE_WITH_TIMEOUT(bobChat.received, QByteArray("no tick needed"), 5000);
}

QTEST_MAIN(TestRelay)
#include "test_relay.moc"
