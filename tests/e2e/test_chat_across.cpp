// Two engines and two Yarnit chat windows in one process: what Ann types appears in Bob's
// conversation, and Bob's reply in Ann's.

#include "chat/chatprogram.h"
#include "chat/frmclient.h"
#include "chat/frmset.h"
#include "client/tellaran.h"
#include "engine/channels/form2.h"
#include "tests/e2e/enginepair.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

template <class T> T* control(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// One user's Yarnit, pointed at the channel port of the engine on the same "computer".
struct ChatUser
{
    ChatUser(const QString& nickname, TellaranEngine& engine)
        : program(folder.path(),
                  {[](QWidget*, const QString&, const QString&) { return QString(); },
                   [](QWidget*, const QString&) {}, [] {}})
    {
        program.Start();
        control<QLineEdit>(program.settingsWindow(), "Text1")->setText(nickname);
        QTest::mouseClick(control<QPushButton>(program.settingsWindow(), "Command1"),
                          Qt::LeftButton);
        window().control()->setEnginePort(engine.channelPort());
    }

    yarnit::frmClient& window() { return program.chatWindow(); }
    QString status() { return control<QLabel>(window(), "Label1")->text(); }
    QString conversation() { return control<QPlainTextEdit>(window(), "Text2")->toPlainText(); }
    void connect() { control<QAction>(window(), "mnuConnect")->trigger(); }
    void type(const QString& line)
    {
        QPlainTextEdit* input = control<QPlainTextEdit>(window(), "Text1");
        input->setFocus();
        QTest::keyClicks(input, line);
        QTest::keyClick(input, Qt::Key_Return);
    }

    QTemporaryDir folder;
    yarnit::ChatProgram program;
};

} // namespace

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
