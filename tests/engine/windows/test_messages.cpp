// User messages: the send window's bytes and connection, the message windows' text, and the
// limit on how many of them the other computer can open.

#include "engine/windows/form10.h"
#include "engine/windows/form9.h"
#include "engine/windows/messagewindows.h"
#include "engine/windows/usermessages.h"
#include "tests/support/controls.h"
#include "tests/support/fakeengine.h"
#include "tests/support/windowcheck.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

// The engine's channel server as the send window sees it: accepts and records.
struct ChannelPort
{
    explicit ChannelPort(FakeEngine& engine)
    {
        server.listen(QHostAddress::LocalHost, engine.channelPort());
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                connections.append(socket);
                received.append(QByteArray());
                const qsizetype index = received.size() - 1;
                QObject::connect(socket, &QTcpSocket::readyRead,
                                 [this, socket, index] { received[index] += socket->readAll(); });
            }
        });
    }
    QTcpServer server;
    QList<QTcpSocket*> connections;
    QList<QByteArray> received;
};

struct SendWindow
{
    explicit SendWindow(FakeEngine& engine) : form(engine), port(engine) {}
    QLineEdit* text() { return control<QLineEdit>(form, "Text1"); }
    void type(const QString& message)
    {
        text()->setText(message);
        QTest::mouseClick(control<QPushButton>(form, "Command1"), Qt::LeftButton);
    }
    Form10 form;
    ChannelPort port;
};

Form9* messageWindow(const QByteArray& text)
{
    auto* window = new Form9;
    window->message = text;
    window->show();
    return window;
}

QLabel* label1(Form9* window)
{
    return control<QLabel>(window, "Label1");
}

QString note(Form9* window)
{
    return control<QLabel>(window, "Label2")->text();
}

} // namespace

class TestMessages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sendWritesOneMessageFrame();
    void sendOnlyWhileConnected();
    void shortTextDrawnLongerTextInTheLabel();
    void clicksCloseAndRightButtonReplies();
    void messagesOpenWindowsUpToTheLimit();
    void keyboardAndScreenReaders();
};

void TestMessages::sendWritesOneMessageFrame()
{
    FakeEngine engine;
    SendWindow send(engine);
    send.form.showWindow();
    QTRY_COMPARE(send.form.Winsock1.State(), int(Socket::Connected));

    send.type(QStringLiteral("Hello"));
    QTRY_COMPARE(send.port.received.value(0), QByteArray("<msgbox>Hello<msgbox>KvekEND"));
    QVERIFY(!send.form.isVisible());
    QCOMPARE(send.text()->text(), QString());

    // Shown again, the same connection; an empty text is a message of 23 bytes.
    send.form.showWindow();
    send.type(QString());
    QTRY_COMPARE(send.port.received[0].size(), 28 + 23);
    QVERIFY(send.port.received[0].endsWith("<msgbox><msgbox>KvekEND"));

    // A text holding a word that would cut the frame is refused, and kept.
    send.form.showWindow();
    for (const QString& text : {QStringLiteral("see you KvekEND"), QStringLiteral("a <msgbox>")}) {
        send.type(text);
        QCOMPARE(send.text()->text(), text);
        QVERIFY(send.form.isVisible());
    }
    QCOMPARE(engine.boxes.texts().size(), 2);
    QVERIFY(engine.boxes.texts()[0].contains(QStringLiteral("\"KvekEND\"")));
    QVERIFY(engine.boxes.texts()[1].contains(QStringLiteral("\"<msgbox>\"")));
    send.type(QStringLiteral("ok"));
    QTRY_VERIFY(send.port.received[0].endsWith("KvekEND<msgbox>ok<msgbox>KvekEND"));
    QCOMPARE(send.port.received[0].size(), 28 + 23 + 25);
    QCOMPARE(send.port.connections.size(), 1);
}

void TestMessages::sendOnlyWhileConnected()
{
    FakeEngine engine;
    SendWindow send(engine);
    // Still connecting: "Send" twice sends nothing, and says why.
    send.form.showWindow();
    QCOMPARE(send.form.Winsock1.State(), int(Socket::Connecting));
    send.type(QStringLiteral("Hello"));
    send.type(QStringLiteral("Hello"));
    QCOMPARE(send.text()->text(), QStringLiteral("Hello"));
    QCOMPARE(send.form.statusText(), NotConnectedText());
    QTRY_COMPARE(send.form.Winsock1.State(), int(Socket::Connected));
    QCOMPARE(send.form.statusText(), QString());

    // The engine drops the connection: "Send" connects again and keeps the text.
    QTRY_COMPARE(send.port.connections.size(), 1);
    send.port.connections[0]->disconnectFromHost();
    QTRY_COMPARE(send.form.Winsock1.State(), int(Socket::Closed));
    send.type(QStringLiteral("Hello"));
    QCOMPARE(send.text()->text(), QStringLiteral("Hello"));
    QCOMPARE(send.form.statusText(), NotConnectedText());
    QTRY_COMPARE(send.port.connections.size(), 2);
    QTRY_COMPARE(send.form.statusText(), QString());

    QTest::mouseClick(control<QPushButton>(send.form, "Command1"), Qt::LeftButton);
    QTRY_COMPARE(send.port.received.value(1), QByteArray("<msgbox>Hello<msgbox>KvekEND"));
    QCOMPARE(send.port.received[0], QByteArray());
}

void TestMessages::shortTextDrawnLongerTextInTheLabel()
{
    const QByteArray twenty(20, 'x');
    Form9* drawn = messageWindow(twenty);
    // Nothing until the first tick after showing.
    QCOMPARE(drawn->drawnText(), QString());
    QTRY_COMPARE(drawn->drawnText(), QString::fromLatin1(twenty));
    QCOMPARE(label1(drawn)->text(), QString());
    // The drawing really is white on the dark background.
    const QImage image = drawn->grab().toImage();
    bool white = false;
    for (int x = 0; x < image.width() && !white; ++x) {
        const QColor pixel = image.pixelColor(x, image.height() / 2);
        white = qMin(pixel.red(), qMin(pixel.green(), pixel.blue())) > 230;
    }
    QVERIFY(white);

    // 21 characters go into the label; markup there is shown as it is.
    const QByteArray twentyOne = "<b>xy</b><a href=\"z\">";
    QCOMPARE(twentyOne.size(), 21);
    Form9* labelled = messageWindow(twentyOne);
    QTRY_COMPARE(label1(labelled)->text(), QString::fromLatin1(twentyOne));
    QCOMPARE(label1(labelled)->textFormat(), Qt::PlainText);
    QCOMPARE(labelled->drawnText(), QString());

    // Latin-1: one byte, one character; drawn markup is drawn as it is too.
    Form9* bytes = messageWindow("<i>caf\xe9</i>\xff");
    QTRY_COMPARE(bytes->drawnText(), QStringLiteral("<i>caf\u00e9</i>\u00ff"));
    for (Form9* window : {drawn, labelled, bytes})
        delete window;
}

void TestMessages::clicksCloseAndRightButtonReplies()
{
    int replies = 0;
    MessageWindows windows([&replies] { ++replies; });
    windows.Show("one");
    windows.Show("two");
    windows.Show("three");
    QCOMPARE(windows.windows().size(), 3);
    QCOMPARE(windows.windows()[1]->message, QByteArray("two"));

    // A click on the window closes it.
    QPointer<Form9> first = windows.windows()[0];
    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(4, 80));
    QTRY_VERIFY(!first);
    QCOMPARE(replies, 0);

    // A click on the label closes it too.
    QPointer<Form9> second = windows.windows()[0];
    QTest::mouseClick(label1(second), Qt::LeftButton);
    QTRY_VERIFY(!second);
    QCOMPARE(replies, 0);

    // A right-button press on the label asks for the send window and closes.
    QPointer<Form9> third = windows.windows()[0];
    QTest::mousePress(label1(third), Qt::RightButton);
    QCOMPARE(replies, 1);
    QTRY_VERIFY(!third);
    QCOMPARE(windows.windows().size(), 0);
}

void TestMessages::messagesOpenWindowsUpToTheLimit()
{
    MessageWindows windows([] {});
    for (int i = 1; i <= MessageWindowLimit::MaxOpen; ++i)
        windows.Show(QByteArray::number(i));
    QCOMPARE(windows.windows().size(), MessageWindowLimit::MaxOpen);
    QCOMPARE(windows.dropped(), 0);
    QCOMPARE(note(windows.windows().last()), QString());

    // The 33rd is dropped and counted on the newest window.
    windows.Show("33");
    QCOMPARE(windows.windows().size(), MessageWindowLimit::MaxOpen);
    QCOMPARE(windows.windows().last()->message, QByteArray("32"));
    QCOMPARE(note(windows.windows().last()), DroppedMessagesNote(1));
    windows.Show("34");
    QCOMPARE(note(windows.windows().last()), DroppedMessagesNote(2));
    QVERIFY(note(windows.windows().last()).startsWith(QStringLiteral("2 more messages")));

    // One closed makes room; the new window starts without a note.
    QPointer<Form9> closing = windows.windows()[0];
    closing->close();
    windows.Show("35");
    QCOMPARE(windows.windows().size(), MessageWindowLimit::MaxOpen);
    QCOMPARE(windows.windows().last()->message, QByteArray("35"));
    QCOMPARE(windows.dropped(), 0);
    QCOMPARE(note(windows.windows().last()), QString());
    QTRY_VERIFY(!closing);

    // A huge message keeps only what a window can show.
    MessageWindows more([] {});
    more.Show(QByteArray(ShownMessageLimit + 1, 'y'));
    QCOMPARE(more.windows()[0]->message, QByteArray(ShownMessageLimit, 'y'));
}

// Both windows walked. Enter in the send window sends once, Escape puts it away; Escape
// closes a message window.
void TestMessages::keyboardAndScreenReaders()
{
    FakeEngine engine;
    SendWindow send(engine);
    send.form.showWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&send.form));
    QTRY_COMPARE(send.form.Winsock1.State(), int(Socket::Connected));
    QStringList problems = WindowProblems(send.form);
    send.text()->setText(QStringLiteral("Hi"));
    QTest::keyClick(send.text(), Qt::Key_Return);
    QTRY_COMPARE(send.port.received.value(0), QByteArray("<msgbox>Hi<msgbox>KvekEND"));
    QVERIFY(!send.form.isVisible());
    send.form.showWindow();
    QTest::keyClick(send.text(), Qt::Key_Escape);
    QVERIFY(!send.form.isVisible());
    QTest::qWait(50);
    QCOMPARE(send.port.received.value(0), QByteArray("<msgbox>Hi<msgbox>KvekEND"));

    QPointer<Form9> received = messageWindow("A longer message than twenty characters");
    QVERIFY(QTest::qWaitForWindowExposed(received));
    QTRY_VERIFY(!label1(received)->text().isEmpty());
    problems += WindowProblems(*received);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    QTest::keyClick(received, Qt::Key_Escape);
    QTRY_VERIFY(received.isNull());
}

QTEST_MAIN(TestMessages)
#include "test_messages.moc"
