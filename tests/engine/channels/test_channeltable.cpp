#include "engine/channels/channeltable.h"
#include "tests/support/fakeengine.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace tellaran;
using tellaran::testing::FakeEngine;

class TestChannelTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fileFollowsEveryChange();
    void lookUpUsesTheRecordsInMemory();
    void writeFailuresKeepTheRecordsAndAreReportedOnce();
    void burstOfChangesIsWrittenOnce();
};

void TestChannelTable::fileFollowsEveryChange()
{
    FakeEngine engine;
    engine.writeDataFile("requests.dat", "9,\"OLDCHAN1\"\r\n");
    ChannelTable table(engine);
    table.Reset();
    QVERIFY(QFile::exists(engine.dataPath("requests.dat")));
    QCOMPARE(engine.readDataFile("requests.dat"), QByteArray());
    QCOMPARE(engine.counters().noofchan, 0);

    table.Register(3, "CHAT0001");
    table.Register(2, "CHAT0002");
    table.Register(3, "CHAT0003"); // a connection that registered twice
    QTRY_COMPARE(engine.readDataFile("requests.dat"),
                 QByteArray("3,\"CHAT0001\"\r\n2,\"CHAT0002\"\r\n3,\"CHAT0003\"\r\n"));
    QCOMPARE(engine.counters().noofchan, 3);

    // A connection that never registered: the file is rewritten unchanged.
    QCOMPARE(table.Remove(7), 0);
    QCOMPARE(engine.counters().noofchan, 3);
    QCOMPARE(engine.readDataFile("requests.dat"),
             QByteArray("3,\"CHAT0001\"\r\n2,\"CHAT0002\"\r\n3,\"CHAT0003\"\r\n"));

    QCOMPARE(table.Remove(3), 2);
    QCOMPARE(engine.counters().noofchan, 1);
    QTRY_COMPARE(engine.readDataFile("requests.dat"), QByteArray("2,\"CHAT0002\"\r\n"));

    // The last removal leaves an empty file, and the temporary file is gone.
    QCOMPARE(table.Remove(2), 1);
    QCOMPARE(engine.counters().noofchan, 0);
    QVERIFY(QFile::exists(engine.dataPath("requests.dat")));
    QTRY_COMPARE(engine.readDataFile("requests.dat"), QByteArray());
    QVERIFY(!QFile::exists(engine.dataPath("reqtemp.dat")));

    table.Delete();
    QVERIFY(!QFile::exists(engine.dataPath("requests.dat")));
    table.Delete(); // missing is fine
    QVERIFY(engine.boxes.boxes().isEmpty());
}

void TestChannelTable::lookUpUsesTheRecordsInMemory()
{
    FakeEngine engine;
    ChannelTable table(engine);
    table.Reset();
    table.Register(1, "CHAT0001");
    table.Register(2, "CHAT0001");
    // Written as it came (the file has no escapes), but it cannot misroute a look-up.
    table.Register(3, "AB\"\r\n5,\"X");
    table.Register(4, "X");
    QTRY_COMPARE(engine.readDataFile("requests.dat").mid(28),
                 QByteArray("3,\"AB\"\r\n5,\"X\"\r\n4,\"X\"\r\n"));

    QSet<int> connected{1, 2, 3, 4};
    auto isConnected = [&](int index) { return connected.contains(index); };
    QCOMPARE(table.LookUp("CHAT0001", isConnected), std::optional<int>(1));
    QCOMPARE(table.LookUp("X", isConnected), std::optional<int>(4));
    QCOMPARE(table.LookUp("chat0001", isConnected), std::nullopt);
    connected.remove(1);
    QCOMPARE(table.LookUp("CHAT0001", isConnected), std::optional<int>(2));
    connected.remove(2);
    QCOMPARE(table.LookUp("CHAT0001", isConnected), std::nullopt);
}

void TestChannelTable::writeFailuresKeepTheRecordsAndAreReportedOnce()
{
    FakeEngine engine;
    ChannelTable table(engine);
    // A folder where the file should be: neither appending nor renaming can succeed.
    QVERIFY(QDir(engine.programDir()).mkpath("data/requests.dat"));
    table.Reset();
    table.Register(4, "CHAT0001");
    table.Register(5, "CHAT0002");
    QCOMPARE(table.Remove(4), 1);
    QCOMPARE(engine.counters().noofchan, 1);
    QCOMPARE(table.LookUp("CHAT0002", [](int) { return true; }), std::optional<int>(5));
    // Shown from the event loop, not inside the operation, and only once.
    QVERIFY(engine.boxes.boxes().isEmpty());
    QTRY_COMPARE(engine.boxes.boxes().size(), 1);
    QVERIFY(engine.boxes.texts().first().contains("requests.dat"));
    QCoreApplication::processEvents();
    QCOMPARE(engine.boxes.boxes().size(), 1);

    // Once the file can be written again, the next rewrite carries the true records.
    QVERIFY(QDir(engine.dataPath("requests.dat")).removeRecursively());
    table.Remove(99);
    QTRY_COMPARE(engine.readDataFile("requests.dat"), QByteArray("5,\"CHAT0002\"\r\n"));
}

void TestChannelTable::burstOfChangesIsWrittenOnce()
{
    FakeEngine engine;
    ChannelTable table(engine);
    table.Reset();
    const int before = table.writes();
    QSet<int> connected;
    auto isConnected = [&](int index) { return connected.contains(index); };
    auto dataId = [](int index) { return "CH" + QByteArray::number(index).rightJustified(6, '0'); };
    for (int i = 1; i <= 100; ++i) {
        table.Register(i, dataId(i));
        connected.insert(i);
    }
    QByteArray expected;
    for (int i = 1; i <= 100; i += 2) {
        table.Remove(i);
        connected.remove(i);
        // Routing follows every change at once.
        QCOMPARE(table.LookUp(dataId(i), isConnected), std::nullopt);
        QCOMPARE(table.LookUp(dataId(i + 1), isConnected), std::optional<int>(i + 1));
        expected += QByteArray::number(i + 1) + ",\"" + dataId(i + 1) + "\"\r\n";
    }
    QCOMPARE(engine.counters().noofchan, 50);
    QCOMPARE(table.writes(), before); // nothing yet within the pass
    QTRY_COMPARE(table.writes(), before + 1);
    QCOMPARE(engine.readDataFile("requests.dat"), expected);
    QCoreApplication::processEvents();
    QCOMPARE(table.writes(), before + 1);

    // The table deleted at the end of a call stays deleted, whatever was still to be written.
    table.Register(200, "LATE0001");
    table.Delete();
    QCoreApplication::processEvents();
    QTest::qWait(10);
    QVERIFY(!QFile::exists(engine.dataPath("requests.dat")));
}

QTEST_GUILESS_MAIN(TestChannelTable)
#include "test_channeltable.moc"
