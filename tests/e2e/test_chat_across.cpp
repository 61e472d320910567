// Two engines and two Yarnit chat windows in one process: what Ann types appears in Bob's
// conversation, and Bob's reply in Ann's.

#include "engine/channels/form2.h"
#include "tests/e2e/chatuser.h"
#include "tests/e2e/enginepair.h"

#include <QTest>

using namespace tellaran;
using namespace tellaran::testing;

class TestChatAcross : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void linesCrossBothWays();
};

void TestChatAcross::linesCrossBothWays()
{
    EnginePair pair;
    ChatUser ann(QStringLiteral("Ann"), *pair.a.engine);
    ChatUser bob(QStringLiteral("Bob"), *pair.b.engine);
    ann.connect();
    bob.connect();
    QTRY_COMPARE_WITH_TIMEOUT(ann.status(), QStringLiteral("Status : Connected"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(bob.status(), QStringLiteral("Status : Connected"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(pair.b.engine->statusWindow().channelTable().records().size(), 1,
                              5000);
    QVERIFY(pair.call());

    ann.type(QStringLiteral("hello"));
    QCOMPARE(ann.status(), QStringLiteral("Data sent"));
    QTRY_COMPARE_WITH_TIMEOUT(bob.conversation(), QStringLiteral("Ann- hello\n"), 5000);
    bob.type(QStringLiteral("hi Ann"));
    QTRY_COMPARE_WITH_TIMEOUT(ann.conversation(), QStringLiteral("Ann- hello\nBob- hi Ann\n"),
                              5000);
}

QTEST_MAIN(TestChatAcross)
#include "test_chat_across.moc"
