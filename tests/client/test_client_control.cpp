#include "client/tellaran.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

using tellaran::Tellaran;

namespace {

// Reads from the engine's side until `count` bytes have come.
QByteArray readBytes(QTcpSocket* peer, qsizetype count)
{
    QByteArray received;
    [[maybe_unused]] const bool complete =
        QTest::qWaitFor([&] { return (received += peer->readAll()).size() >= count; }, 5000);
    return received;
}

// A control wired to a stand-in for the engine's channel server. The control connects to
// the computer's own address, so the stand-in listens on every local address.
struct Rig
{
    Rig()
    {
        [[maybe_unused]] const bool listening = server.listen(QHostAddress::Any);
        control.setEnginePort(server.serverPort());
        control.setMessageBox([this](const QString& text) { boxes.append(text); });
    }

    // Connects and returns the engine's end once the control raised ConnectEvent.
    QTcpSocket* connect()
    {
        const int before = connected.count();
        control.Connect();
        if (!server.waitForNewConnection(5000))
            return nullptr;
        QTcpSocket* peer = server.nextPendingConnection();
        return QTest::qWaitFor([&] { return connected.count() > before; }, 5000) ? peer : nullptr;
    }

    QTcpServer server;
    Tellaran control;
    QStringList boxes;
    QSignalSpy connected{&control, &Tellaran::ConnectEvent};
    QSignalSpy disconnected{&control, &Tellaran::DisconnectEvent};
    QSignalSpy arrived{&control, &Tellaran::DataArrivalEvent};
    QSignalSpy sent{&control, &Tellaran::DataSendCompleteEvent};
    QSignalSpy errors{&control, &Tellaran::ErrorEvent};
};

} // namespace

class TestClientControl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void framesOnTheWire();
    void ignoresCallsOutOfState();
    void disconnectsOnceAndRecovers();
    void dataIDRules();
    void keepsItsFixedSize();
};

void TestClientControl::framesOnTheWire()
{
    Rig rig;
    QVERIFY(rig.control.setDataID(QStringLiteral("chatclie")));
    rig.control.setEnabled(false); // the flag has no say over the link
    QTcpSocket* peer = rig.connect();
    QVERIFY(peer);
    QCOMPARE(readBytes(peer, 17), QByteArray("<request>chatclie"));

    rig.control.SendData("abc");
    QCOMPARE(rig.sent.count(), 1); // raised inside the call
    QCOMPARE(readBytes(peer, 30), QByteArray("<chatclie>abc<chatclie>KvekEND"));
    rig.control.SendData(QByteArray());
    QCOMPARE(readBytes(peer, 27), QByteArray("<chatclie><chatclie>KvekEND"));
    const QByteArray awkward("a<b>cKvekEND\r\n\x01\xff");
    rig.control.SendData(awkward);
    QCOMPARE(readBytes(peer, 27 + awkward.size()), "<chatclie>" + awkward + "<chatclie>KvekEND");

    // What the engine writes arrives unchanged.
    peer->write(awkward);
    QByteArray delivered;
    QTRY_VERIFY([&] {
        while (!rig.arrived.isEmpty())
            delivered += rig.arrived.takeFirst().at(0).toByteArray();
        return delivered == awkward;
    }());
    QCOMPARE(rig.errors.count(), 0);
    QVERIFY(rig.boxes.isEmpty());
}

void TestClientControl::ignoresCallsOutOfState()
{
    Rig rig;
    rig.control.SendData("closed");
    rig.control.Closeconnection();
    QCOMPARE(rig.control.State(), 0);

    // A second Connect while connecting opens no second connection; a send goes nowhere yet.
    rig.control.Connect();
    rig.control.SendData("connecting");
    QCOMPARE(rig.sent.count(), 0);
    QTcpSocket* peer = rig.connect();
    QVERIFY(peer);
    rig.control.SendData("x");
    QCOMPARE(readBytes(peer, 45), QByteArray("<request>nwDataID<nwDataID>x<nwDataID>KvekEND"));
    QVERIFY(!rig.server.hasPendingConnections());
    QCOMPARE(rig.connected.count(), 1);
    QCOMPARE(rig.sent.count(), 1);
}

void TestClientControl::disconnectsOnceAndRecovers()
{
    Rig rig;
    QTcpSocket* first = rig.connect();
    QVERIFY(first);
    rig.control.Closeconnection();
    QCOMPARE(rig.disconnected.count(), 1); // raised inside the call
    QTRY_COMPARE(first->state(), QAbstractSocket::UnconnectedState);
    rig.control.Closeconnection();
    QCOMPARE(rig.disconnected.count(), 1);

    QTcpSocket* second = rig.connect();
    QVERIFY(second);
    second->disconnectFromHost();
    QTRY_COMPARE(rig.disconnected.count(), 2);
    rig.control.Closeconnection();
    rig.control.SendData("to nobody");
    QCOMPARE(rig.control.State(), 8);
    QCOMPARE(rig.disconnected.count(), 2);
    QCOMPARE(rig.sent.count(), 0);

    // Left closing by the engine: Connect starts afresh.
    QVERIFY(rig.connect());

    // Refused: no word to the application, and Connect still works once the engine is back.
    const quint16 port = rig.server.serverPort();
    rig.server.close();
    rig.control.Closeconnection();
    rig.control.Connect();
    QTRY_COMPARE(rig.control.State(), 9);
    QCOMPARE(rig.errors.count(), 0);
    if (!rig.server.listen(QHostAddress::Any, port))
        QSKIP("another program took the test port meanwhile");
    QTcpSocket* renewed = rig.connect();
    QVERIFY(renewed);
    QCOMPARE(readBytes(renewed, 17), QByteArray("<request>nwDataID"));
    QCOMPARE(rig.connected.count(), 4);
}

void TestClientControl::dataIDRules()
{
    Tellaran fresh;
    QCOMPARE(fresh.DataID(), QStringLiteral("nwDataID"));

    // A wrong length is reported once, at the first use, and replaced.
    Rig rig;
    QVERIFY(rig.control.setDataID(QStringLiteral("short")));
    QTcpSocket* peer = rig.connect();
    QVERIFY(peer);
    rig.control.SendData("x");
    QCOMPARE(readBytes(peer, 45), QByteArray("<request>nwDataID<nwDataID>x<nwDataID>KvekEND"));
    QCOMPARE(rig.boxes, QStringList{"Error: DataID must be 8 characters in length."});

    // Once connecting or shown, the DataID is fixed.
    QVERIFY(!rig.control.setDataID(QStringLiteral("otherid1")));
    QCOMPARE(rig.control.lastError(), 393);
    QCOMPARE(rig.control.DataID(), QStringLiteral("nwDataID"));
    QVERIFY(fresh.setDataID(QStringLiteral("chatclie")));
    QCOMPARE(fresh.lastError(), 0);
    fresh.show();
    QVERIFY(!fresh.setDataID(QStringLiteral("otherid1")));
    QCOMPARE(fresh.property("DataID").toString(), QStringLiteral("chatclie"));
}

void TestClientControl::keepsItsFixedSize()
{
    Tellaran control;
    const QSize face(49, 43); // 735 by 648 twips
    control.resize(300, 200);
    QCOMPARE(control.size(), face);
    control.show();
    // Even a host that lifts the size limits cannot stretch it.
    control.setMaximumSize(500, 500);
    control.setMinimumSize(100, 100);
    QCOMPARE(control.size(), face);
}

QTEST_MAIN(TestClientControl)
#include "test_client_control.moc"
