#include "chat/chatprogram.h"
#include "chat/frmclient.h"
#include "chat/frmset.h"
#include "chat/nicknamefile.h"
#include "client/tellaran.h"
#include "tests/support/controls.h"
#include "tests/support/windowcheck.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

using tellaran::testing::control;

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Yarnit in a temporary program folder, with the save dialog, error boxes and the end of the
// program answered by recorders, and a stand-in engine listening on every local address.
struct Chat
{
    explicit Chat(const QString& subFolder = QString())
        : dir(subFolder.isEmpty() ? temp.path() : temp.filePath(subFolder)),
          program(dir, {[this](QWidget*, const QString& name, const QString& folder) {
                            saveRequests.append(QStringList{name, folder});
                            return saveAnswer;
                        },
                        [this](QWidget*, const QString& text) { errors.append(text); },
                        [this] { ++endCalls; }})
    {
        [[maybe_unused]] const bool listening = server.listen(QHostAddress::Any);
    }

    QLineEdit* nickname() { return control<QLineEdit>(program.settingsWindow(), "Text1"); }
    void clickSettings(const char* button)
    {
        QTest::mouseClick(control<QPushButton>(program.settingsWindow(), button), Qt::LeftButton);
    }
    yarnit::frmClient& window() { return program.chatWindow(); }
    QAction* menu(const char* name) { return control<QAction>(window(), name); }
    QString status() { return control<QLabel>(window(), "Label1")->text(); }
    QPlainTextEdit* input() { return control<QPlainTextEdit>(window(), "Text1"); }
    void send(const QString& text)
    {
        input()->setPlainText(text);
        QTest::mouseClick(control<QPushButton>(window(), "Command1"), Qt::LeftButton);
    }

    // Connects through the menu; returns the engine's end after the registration came.
    QTcpSocket* connect()
    {
        window().control()->setEnginePort(server.serverPort());
        menu("mnuConnect")->trigger();
        if (!server.waitForNewConnection(5000))
            return nullptr;
        QTcpSocket* peer = server.nextPendingConnection();
        const bool up = QTest::qWaitFor([&] { return status() == "Status : Connected"; }, 5000);
        return up && readBytes(peer, 17) == "<request>chatclie" ? peer : nullptr;
    }
    static QByteArray readBytes(QTcpSocket* peer, qsizetype count)
    {
        QByteArray received;
        [[maybe_unused]] const bool complete =
            QTest::qWaitFor([&] { return (received += peer->readAll()).size() >= count; }, 5000);
        return received;
    }

    QTemporaryDir temp;
    QString dir;
    QString saveAnswer;
    QList<QStringList> saveRequests;
    QStringList errors;
    int endCalls = 0;
    QTcpServer server;
    yarnit::ChatProgram program;
};

} // namespace

class TestChat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nicknameFileFormat();
    void firstRunSavesTheDefaultNameAndSendsUnderIt();
    void nicknameWindowCancel();
    void menusAndStatusFollowTheConnection();
    void enterSendsAndFocusStaysOnTheInput();
    void savesTheConversation();
    void keyboardAndScreenReaders();
};

void TestChat::nicknameFileFormat()
{
    QTemporaryDir dir;
    const QString path = yarnit::nicknameFilePath(dir.path());
    const auto storeAndRead = [&](const QByteArray& content) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
        file.close();
        return yarnit::ReadNickname(dir.path());
    };

    QVERIFY(yarnit::SaveNickname(dir.path(), "Ann"));
    QCOMPARE(fileBytes(path), QByteArray("\"Ann\"\r\n"));
    QVERIFY(yarnit::SaveNickname(dir.path(), "Smith, Ann"));
    QCOMPARE(yarnit::ReadNickname(dir.path()), QByteArray("Smith, Ann"));
    // A quote would cut the name short when read back, so it is not stored.
    QVERIFY(yarnit::SaveNickname(dir.path(), "Ann \"the\" Bold"));
    QCOMPARE(yarnit::ReadNickname(dir.path()), QByteArray("Ann the Bold"));

    QCOMPARE(storeAndRead("\"Bob\",\"Carl\"\r\n\"Dora\"\r\n"), QByteArray("Dora"));
    QCOMPARE(storeAndRead("\"Bob\",\"\"\r\n"), QByteArray("Username"));
    QCOMPARE(storeAndRead(""), QByteArray("Username"));
}

void TestChat::firstRunSavesTheDefaultNameAndSendsUnderIt()
{
    Chat chat;
    chat.program.Start();
    QVERIFY(chat.program.settingsWindow().isVisible());
    QCOMPARE(chat.nickname()->text(), QStringLiteral("Username"));
    QCOMPARE(fileBytes(chat.dir + "/chat.dat"), QByteArray());
    QVERIFY(!chat.program.isChatWindowLoaded());

    chat.clickSettings("Command1");
    QCOMPARE(fileBytes(chat.dir + "/chat.dat"), QByteArray("\"Username\"\r\n"));
    QVERIFY(!chat.program.settingsWindow().isVisible());
    QVERIFY(chat.window().isVisible());
    QVERIFY(chat.menu("mnuConnect")->isEnabled());
    QVERIFY(!chat.menu("mnuDisconnect")->isEnabled());
    QCOMPARE(chat.status(), QString());

    QTcpSocket* peer = chat.connect();
    QVERIFY(peer);
    chat.send(QStringLiteral("hello"));
    QCOMPARE(Chat::readBytes(peer, 42), QByteArray("<chatclie>Username- hello<chatclie>KvekEND"));
    QCOMPARE(chat.window().conversation(), QByteArray("Username- hello\r\n"));
    QCOMPARE(chat.input()->toPlainText(), QString());
}

void TestChat::nicknameWindowCancel()
{
    // At start: the program ends and the chat never shows.
    Chat first;
    first.program.Start();
    first.clickSettings("Command2");
    QCOMPARE(first.endCalls, 1);
    QVERIFY(!first.program.isChatWindowLoaded());
    QCOMPARE(fileBytes(first.dir + "/chat.dat"), QByteArray());

    // Later: the chat goes on, and the next use loads the window again from chat.dat, unlocked.
    Chat chat;
    chat.program.Start();
    chat.nickname()->setText(QStringLiteral("Ann"));
    chat.clickSettings("Command1");
    QVERIFY(chat.connect());
    chat.menu("mnuSettings")->trigger();
    chat.nickname()->setText(QStringLiteral("Zed"));
    QVERIFY(chat.nickname()->isReadOnly());
    chat.clickSettings("Command2");
    QCOMPARE(chat.endCalls, 0);
    chat.send(QStringLiteral("back"));
    QCOMPARE(chat.window().conversation(), QByteArray("Ann- back\r\n"));
    QVERIFY(!chat.nickname()->isReadOnly());
}

void TestChat::menusAndStatusFollowTheConnection()
{
    Chat chat;
    chat.program.Start();
    chat.clickSettings("Command1");
    QAction* connectItem = chat.menu("mnuConnect");
    QAction* disconnectItem = chat.menu("mnuDisconnect");
    const auto menusShowConnected = [&](bool connected) {
        return connectItem->isEnabled() != connected && disconnectItem->isEnabled() == connected;
    };

    // Connecting locks the nickname at once; the menus wait for the link.
    chat.window().control()->setEnginePort(chat.server.serverPort());
    connectItem->trigger();
    QVERIFY(chat.nickname()->isReadOnly());
    QVERIFY(menusShowConnected(false));
    QVERIFY(chat.server.waitForNewConnection(5000));
    QTcpSocket* peer = chat.server.nextPendingConnection();
    QTRY_COMPARE(chat.status(), QStringLiteral("Status : Connected"));
    QVERIFY(menusShowConnected(true));

    chat.send(QStringLiteral("hi"));
    QCOMPARE(chat.status(), QStringLiteral("Data sent"));
    peer->write("Bob- yo");
    QTRY_COMPARE(chat.window().conversation(), QByteArray("Username- hi\r\nBob- yo\r\n"));

    chat.menu("mnuDisconnect")->trigger();
    QCOMPARE(chat.status(), QStringLiteral("Status : Disconnected"));
    QVERIFY(menusShowConnected(false));
    QVERIFY(!chat.nickname()->isReadOnly());

    // The other side hanging up leaves the nickname locked; connecting again works.
    QTcpSocket* again = chat.connect();
    QVERIFY(again);
    again->disconnectFromHost();
    QTRY_COMPARE(chat.status(), QStringLiteral("Status : Disconnected"));
    QVERIFY(menusShowConnected(false));
    QVERIFY(chat.nickname()->isReadOnly());
    QVERIFY(chat.connect());
}

void TestChat::enterSendsAndFocusStaysOnTheInput()
{
    Chat chat;
    chat.program.Start();
    chat.clickSettings("Command1");
    QVERIFY(QTest::qWaitForWindowActive(&chat.window()));
    QPlainTextEdit* input = chat.input();
    input->setFocus();

    QTest::keyClicks(input, QStringLiteral("hey"));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(input->toPlainText(), QString());
    QTest::keyClick(input, Qt::Key_Enter, Qt::KeypadModifier); // an empty line goes too
    QCOMPARE(input->toPlainText(), QString());
    // Not connected: the lines only join the local conversation.
    QCOMPARE(chat.window().conversation(), QByteArray("Username- hey\r\nUsername- \r\n"));
    QCOMPARE(chat.status(), QString());

    control<QPlainTextEdit>(chat.window(), "Text2")->setFocus();
    QTRY_VERIFY(input->hasFocus());
}

void TestChat::savesTheConversation()
{
    Chat chat(QStringLiteral("unwritable"));
    chat.program.Start();
    chat.nickname()->setText(QStringLiteral("Ann"));
    // A program folder that cannot take chat.dat is reported, and the chat goes on.
    chat.clickSettings("Command1");
    QCOMPARE(chat.errors.size(), 1);
    QVERIFY(chat.window().isVisible());
    chat.send(QStringLiteral("one"));
    chat.send(QStringLiteral("two"));

    chat.saveAnswer = chat.temp.filePath(QStringLiteral("Conversation.txt"));
    chat.menu("SvC")->trigger();
    QCOMPARE(chat.saveRequests, (QList<QStringList>{{"Conversation.txt", chat.dir}}));
    QByteArray shown = control<QPlainTextEdit>(chat.window(), "Text2")->toPlainText().toLatin1();
    shown.replace("\n", "\r\n");
    QCOMPARE(fileBytes(chat.saveAnswer), shown + "\r\n");
    QCOMPARE(fileBytes(chat.saveAnswer), QByteArray("Ann- one\r\nAnn- two\r\n\r\n"));

    // Cancelled: nothing is written. Unwritable: reported.
    const QStringList before = QDir(chat.temp.path()).entryList(QDir::Files);
    chat.saveAnswer.clear();
    chat.menu("SvC")->trigger();
    QCOMPARE(QDir(chat.temp.path()).entryList(QDir::Files), before);
    QCOMPARE(chat.errors.size(), 1);
    chat.saveAnswer = chat.temp.filePath(QStringLiteral("no/such/folder.txt"));
    chat.menu("SvC")->trigger();
    QCOMPARE(chat.errors.size(), 2);
    QCOMPARE(chat.endCalls, 0);
}

// Both windows walked under a light and a dark desktop palette, which Yarnit follows. In the
// nickname window Enter saves and Escape cancels.
void TestChat::keyboardAndScreenReaders()
{
    Chat chat;
    chat.program.Start();
    QWidget& settings = chat.program.settingsWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&settings));
    QStringList problems = tellaran::testing::WindowProblems(settings);
    chat.nickname()->setText(QStringLiteral("Ann"));
    QTest::keyClick(chat.nickname(), Qt::Key_Return);
    QCOMPARE(fileBytes(chat.dir + "/chat.dat"), QByteArray("\"Ann\"\r\n"));
    QVERIFY(chat.window().isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(&chat.window()));
    problems += tellaran::testing::WindowProblems(chat.window());
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));

    chat.menu("mnuSettings")->trigger();
    chat.nickname()->setText(QStringLiteral("Zed"));
    QTest::keyClick(chat.nickname(), Qt::Key_Escape);
    QVERIFY(!chat.program.settingsWindow().isVisible());
    QCOMPARE(fileBytes(chat.dir + "/chat.dat"), QByteArray("\"Ann\"\r\n"));
    QCOMPARE(chat.endCalls, 0);
}

QTEST_MAIN(TestChat)
#include "test_chat.moc"
