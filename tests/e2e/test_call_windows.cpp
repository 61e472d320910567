// Two engines driven only through their windows: one answers, the other dials it from the
// dialer, the users chat, and a disconnect on one side ends both.

#include "engine/calls/callcontrol.h"
#include "engine/calls/dialer.h"
#include "engine/calls/form3.h"
#include "engine/channels/form2.h"
#include "engine/settings/settingsfile.h"
#include "tests/e2e/chatuser.h"
#include "tests/e2e/enginepair.h"

#include <QRadioButton>

using namespace tellaran;
using namespace tellaran::testing;

class TestCallWindows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void answerCallChatAndHangUp();
};

void TestCallWindows::answerCallChatAndHangUp()
{
    EnginePair pair;
    TellaranEngine& ann = *pair.a.engine;
    TellaranEngine& bob = *pair.b.engine;

    // Both start; their splash screens hand over to the mode windows after two seconds.
    ann.start();
    bob.start();
    QTRY_VERIFY_WITH_TIMEOUT(ann.calls().isModeWindowVisible() && bob.calls().isModeWindowVisible(),
                             5000);

    // Ann answers.
    QTest::mouseClick(control<QRadioButton>(ann.calls().form3(), "Option2"), Qt::LeftButton);
    QTRY_VERIFY(ann.calls().isAnswerWindowVisible());
    QTRY_VERIFY(!ann.calls().isForm3Loaded());

    // Bob calls Ann's line from the dialer.
    QTest::mouseClick(control<QRadioButton>(bob.calls().form3(), "Option1"), Qt::LeftButton);
    QTRY_VERIFY(bob.calls().isDialerVisible());
    Dialer& dialer = bob.calls().dialer();
    QTest::keyClicks(control<QLineEdit>(dialer, "Text1"), pair.a.line);
    QTest::mouseClick(control<QPushButton>(dialer, "Command1"), Qt::LeftButton);
    QTRY_VERIFY(bob.calls().isDialingWindowVisible());

    QTRY_VERIFY_WITH_TIMEOUT(ann.modemConnected() && bob.modemConnected(), 10000);
    QTRY_VERIFY(ann.statusWindow().isVisible() && bob.statusWindow().isVisible());
    QVERIFY(!ann.calls().isAnswerWindowVisible());
    QVERIFY(!bob.calls().isDialingWindowVisible());

    // The users chat through their client controls.
    ChatUser annChat(QStringLiteral("Ann"), ann);
    ChatUser bobChat(QStringLiteral("Bob"), bob);
    annChat.connect();
    bobChat.connect();
    QTRY_COMPARE_WITH_TIMEOUT(bobChat.status(), QStringLiteral("Status : Connected"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(ann.statusWindow().channelTable().records().size(), 1, 5000);
    bobChat.type(QStringLiteral("hello Ann"));
    QTRY_COMPARE_WITH_TIMEOUT(annChat.conversation(), QStringLiteral("Bob- hello Ann\n"), 5000);

    // Let both clocks show a second, then Bob disconnects and answers Yes.
    QTRY_VERIFY_WITH_TIMEOUT(bob.dialerTimeText() != QStringLiteral("00:00:00") &&
                                 ann.dialerTimeText() != QStringLiteral("00:00:00"),
                             5000);
    QTest::mouseClick(control<QWidget>(bob.statusWindow(), "Button6"), Qt::LeftButton);
    QCOMPARE(pair.b.boxes->texts().value(0), QStringLiteral("Do You want to disconnect?"));
    QCOMPARE(pair.b.ended, 1);
    const QByteArray bobTime = SettingsFile(bob.programDir()).ReadStoredTime();
    QCOMPARE(bobTime, bob.dialerTimeText().toLatin1());
    QVERIFY(bobTime != "00:00:00");

    // Ann is told, stores her time and ends.
    QTRY_COMPARE_WITH_TIMEOUT(pair.a.ended, 1, 10000);
    QCOMPARE(pair.a.boxes->texts(), QStringList{QStringLiteral("Remote computer disconnected")});
    const QByteArray annTime = SettingsFile(ann.programDir()).ReadStoredTime();
    QCOMPARE(annTime, ann.dialerTimeText().toLatin1());
    QVERIFY(annTime != "00:00:00");
}

QTEST_MAIN(TestCallWindows)
#include "test_call_windows.moc"
