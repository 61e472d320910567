// Two engines in one process, joined by virtual modems: the users exchange messages through
// their windows, the info box counts what crossed, and a flood of messages from the other
// side opens no more windows than the limit.

#include "engine/channels/form2.h"
#include "engine/link/frames.h"
#include "engine/windows/datafrm.h"
#include "engine/windows/form10.h"
#include "engine/windows/form9.h"
#include "engine/windows/infostatistics.h"
#include "engine/windows/usermessages.h"
#include "tests/e2e/enginepair.h"
#include "tests/support/controls.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTest>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

// Types `text` into the engine's send window and presses "Send" once it is connected.
bool sendMessage(TellaranEngine& engine, const QString& text)
{
    Form10& window = engine.sendWindow();
    if (!QTest::qWaitFor([&] { return window.Winsock1.State() == Socket::Connected; }, 5000))
        return false;
    control<QLineEdit>(window, "Text1")->setText(text);
    QTest::mouseClick(control<QPushButton>(window, "Command1"), Qt::LeftButton);
    return !window.isVisible();
}

// Display ticks of a fully open info box until `name` shows.
QString infoBoxValue(datafrm& box, const QString& name)
{
    for (int tick = 0; tick < 6; ++tick) {
        box.Timer4_Timer();
        if (control<QLabel>(box, "Label2")->text() == name)
            return control<QLabel>(box, "Label3")->text();
    }
    return QString();
}

} // namespace

class TestMessagesAcross : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void messageAndReplyThroughTheWindows();
    void floodOpensNoMoreThanTheLimit();
};

void TestMessagesAcross::messageAndReplyThroughTheWindows()
{
    EnginePair pair;
    QVERIFY(pair.call());
    TellaranEngine& ann = *pair.a.engine;
    TellaranEngine& bob = *pair.b.engine;

    // Ann's status window button opens her send window.
    QTest::mouseClick(control<QWidget>(ann.statusWindow(), "Button2"), Qt::LeftButton);
    QVERIFY(ann.isSendWindowLoaded() && ann.sendWindow().isVisible());
    QVERIFY(sendMessage(ann, QStringLiteral("Hello Bob, this is <b>Ann</b>")));
    QTRY_COMPARE_WITH_TIMEOUT(bob.openMessages(), QByteArrayList{"Hello Bob, this is <b>Ann</b>"},
                              5000);
    Form9* received = bob.messageWindows().first();
    QVERIFY(received->isVisible());
    QTRY_COMPARE(control<QLabel>(received, "Label1")->text(),
                 QStringLiteral("Hello Bob, this is <b>Ann</b>"));

    // Ann's info box came out with the first bytes her modem read; it is open by now.
    QVERIFY(ann.isInfoBoxLoaded());
    QTRY_VERIFY(ann.infoBox().slide().open);
    const qint64 annReceivedBefore = ann.counters().bytesreceived;
    const qint64 bobSentBefore = bob.counters().bytessent;

    // Bob replies through the right button.
    QTest::mousePress(control<QLabel>(received, "Label1"), Qt::RightButton);
    QTRY_VERIFY(bob.messageWindows().isEmpty());
    QVERIFY(bob.sendWindow().isVisible());
    QVERIFY(sendMessage(bob, QStringLiteral("Hi Ann")));
    QTRY_COMPARE_WITH_TIMEOUT(ann.openMessages(), QByteArrayList{"Hi Ann"}, 5000);
    QTRY_COMPARE(ann.messageWindows().first()->drawnText(), QStringLiteral("Hi Ann"));

    // What Bob's modem sent is what Ann's read, and her info box shows it.
    const qint64 replySize = frames::linkFrame("<msgbox>Hi Ann<msgbox>").size();
    QTRY_COMPARE(bob.counters().bytessent - bobSentBefore, replySize);
    QTRY_COMPARE(ann.counters().bytesreceived - annReceivedBefore, replySize);
    QCOMPARE(infoBoxValue(ann.infoBox(), QStringLiteral("Bytes received")),
             NumberText(ann.counters().bytesreceived));
}

void TestMessagesAcross::floodOpensNoMoreThanTheLimit()
{
    EnginePair pair;
    QVERIFY(pair.call());
    TellaranEngine& bob = *pair.b.engine;

    QTcpSocket flooder;
    flooder.connectToHost(QHostAddress::LocalHost, pair.a.engine->channelPort());
    QVERIFY(flooder.waitForConnected(5000));
    const int total = 10000;
    QByteArray flood;
    for (int i = 0; i < total; ++i)
        flood += frames::messageFrame("flood " + QByteArray::number(i));
    flooder.write(flood);

    const qint64 expectedDrops = total - MessageWindowLimit::MaxOpen;
    QTRY_COMPARE_WITH_TIMEOUT(bob.droppedMessages(), expectedDrops, 30000);
    QCOMPARE(bob.messageWindows().size(), MessageWindowLimit::MaxOpen);
    QCOMPARE(bob.openMessages().first(), QByteArray("flood 0"));
    QCOMPARE(control<QLabel>(bob.messageWindows().last(), "Label2")->text(),
             DroppedMessagesNote(expectedDrops));

    // Still responsive: a window closed makes room for the next message.
    bob.messageWindows().first()->close();
    flooder.write(frames::messageFrame("after the flood"));
    QTRY_COMPARE_WITH_TIMEOUT(bob.openMessages().last(), QByteArray("after the flood"), 5000);
    QCOMPARE(bob.messageWindows().size(), MessageWindowLimit::MaxOpen);
    QCOMPARE(bob.droppedMessages(), 0);
}

QTEST_MAIN(TestMessagesAcross)
#include "test_messages_across.moc"
