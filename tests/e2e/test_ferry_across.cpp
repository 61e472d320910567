// Two engines, two Ferryit windows and two chats in one process: files cross both ways while
// the users chat; a byte changed on the line is caught; a call that drops mid-file resumes on
// the next call.
#include "engine/channels/form2.h"
#include "ferry/transfer.h"
#include "tests/e2e/chatuser.h"
#include "tests/e2e/enginepair.h"
#include "tests/e2e/ferryuser.h"
#include "tests/e2e/rawclient.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QMimeData>
#include <QProgressBar>
#include <QRandomGenerator>

using namespace tellaran;
using namespace tellaran::testing;
using ferryit::Direction;
using ferryit::TransferState;

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A tap on the phone line, in the exchange between the two modems: it passes the caller's
// bytes on, changing the byte at `flipAt`, or cutting the line once `cutAt` bytes went.
class LineTap : public QObject
{
public:
    LineTap(const QString& exchange, const QString& name, const QString& callee)
        : callee_(QDir(exchange).filePath(callee))
    {
        server_.listen(QDir(exchange).filePath(name));
        connect(&server_, &QLocalServer::newConnection, this, [this] {
            caller_ = server_.nextPendingConnection();
            connect(caller_, &QLocalSocket::readyRead, this, &LineTap::forward);
            connect(&callee_socket_, &QLocalSocket::readyRead, this,
                    [this] { caller_->write(callee_socket_.readAll()); });
            callee_socket_.connectToServer(callee_);
        });
    }
    qint64 flipAt = -1;
    qint64 cutAt = -1;
    qint64 passed = 0;

private:
    void forward()
    {
        QByteArray bytes = caller_->readAll();
        if (flipAt >= passed && flipAt < passed + bytes.size())
            bytes[flipAt - passed] = char(bytes[flipAt - passed] ^ 0x04);
        if (cutAt >= 0 && passed + bytes.size() >= cutAt) {
            callee_socket_.write(bytes.left(cutAt - passed));
            callee_socket_.flush();
            callee_socket_.abort();
            caller_->abort();
            passed = cutAt;
            return;
        }
        passed += bytes.size();
        callee_socket_.write(bytes);
    }

    QString callee_;
    QLocalServer server_;
    QLocalSocket* caller_ = nullptr;
    QLocalSocket callee_socket_;
};

// Ann dials `line` (Bob's own, or a tap in front of it); true once both are connected.
bool call(EnginePair& pair, const QString& line)
{
    SerialPort& answering = pair.b.engine->modemPort();
    answering.setPortOpen(true);
    answering.setDTREnable(true);
    answering.Output("ATE1S0=1\r\n");
    SerialPort& dialing = pair.a.engine->modemPort();
    dialing.setPortOpen(true);
    dialing.Output("ATD" + line.toLatin1() + "\r\n");
    return QTest::qWaitFor(
        [&] { return pair.a.engine->modemConnected() && pair.b.engine->modemConnected(); }, 10000);
}

bool registered(EnginePair& pair, int programs)
{
    return waitForRegistrations(*pair.a.engine, programs) &&
           waitForRegistrations(*pair.b.engine, programs);
}

} // namespace

class TestFerryAcross : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void filesCrossBothWaysWhileChatting();
    void aByteChangedOnTheLineIsCaught();
    void dropMidFileThenResume();
};

void TestFerryAcross::filesCrossBothWaysWhileChatting()
{
    EnginePair pair;
    ChatUser annChat(QStringLiteral("Ann"), *pair.a.engine);
    ChatUser bobChat(QStringLiteral("Bob"), *pair.b.engine);
    FerryUser ann(*pair.a.engine);
    FerryUser bob(*pair.b.engine);
    annChat.connect();
    bobChat.connect();
    QTRY_COMPARE(ann.status(), QStringLiteral("Status : Connected"));
    QTRY_COMPARE(bob.status(), QStringLiteral("Status : Connected"));
    QVERIFY(registered(pair, 2));
    QVERIFY(call(pair, pair.b.line));
    ann.acceptAll();
    bob.acceptAll();
    QFile own(bob.inboxFile(QStringLiteral("one.bin")));
    QVERIFY(own.open(QIODevice::WriteOnly) && own.write("Bob's") == 5);
    own.close();

    const QByteArray tokens =
        QByteArray("KvekEND<xodem>\r<modem><msgbox><request><ferryit1>").repeated(2000);
    const QByteArray annRandom = randomBytes(1 << 20, 1);
    const QByteArray bobRandom = randomBytes(1 << 20, 2);
    ann.send({ann.outboxFile("empty", {}), ann.outboxFile("one.bin", "1"),
              ann.outboxFile("random.bin", annRandom), ann.outboxFile("tokens.txt", tokens),
              ann.outboxFile(".bashrc", "alias"), ann.outboxFile("new\nline.txt", "nl")});
    // Bob drops his files on the window.
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(bob.outboxFile("back.bin", bobRandom)),
                     QUrl::fromLocalFile(bob.outboxFile("tokens.txt", tokens))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&bob.window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&bob.window, &drop);
    QCOMPARE(bob.keys(Direction::Outgoing).size(), 2);

    // The chat goes on while the files cross.
    QTRY_VERIFY(!bob.keys(Direction::Incoming).isEmpty());
    annChat.type(QStringLiteral("sending you the pictures"));
    bobChat.type(QStringLiteral("thanks, here are mine"));
    QTRY_VERIFY_WITH_TIMEOUT(
        bobChat.conversation().contains(QLatin1String("Ann- sending you the pictures")), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(
        annChat.conversation().contains(QLatin1String("Bob- thanks, here are mine")), 20000);

    QTRY_VERIFY_WITH_TIMEOUT(ann.allFinished() && bob.allFinished() &&
                                 ann.keys(Direction::Incoming).size() == 2 &&
                                 bob.keys(Direction::Incoming).size() == 6,
                             90000);
    QCOMPARE(bob.inboxNames(), (QStringList{"bashrc", "empty", "newline.txt", "one (1).bin",
                                            "one.bin", "random.bin", "tokens.txt"}));
    QCOMPARE(fileBytes(bob.inboxFile("random.bin")), annRandom);
    QCOMPARE(fileBytes(bob.inboxFile("tokens.txt")), tokens);
    QCOMPARE(fileBytes(bob.inboxFile("one.bin")), QByteArray("Bob's"));
    QCOMPARE(fileBytes(bob.inboxFile("one (1).bin")), QByteArray("1"));
    QCOMPARE(fileBytes(bob.inboxFile("empty")), QByteArray());
    QCOMPARE(fileBytes(bob.inboxFile("bashrc")), QByteArray("alias"));
    QCOMPARE(fileBytes(ann.inboxFile("back.bin")), bobRandom);
    QCOMPARE(fileBytes(ann.inboxFile("tokens.txt")), tokens);
    // What each window shows of it.
    for (const quint64 key : ann.window.session().transferKeys()) {
        QVERIFY2(ann.stateShown(key).startsWith(QLatin1String("done")),
                 qPrintable(ann.stateShown(key)));
        auto* bar = qobject_cast<QProgressBar*>(
            control<QTreeWidget>(ann.window, "Transfers")->itemWidget(ann.window.item(key), 2));
        QCOMPARE(bar->value(), 100);
    }
    const quint64 hidden = bob.keys(Direction::Incoming).at(4);
    QCOMPARE(
        bob.stateShown(hidden),
        QStringLiteral(
            "done (Offered as \u201c.bashrc\u201d: a name starting with a dot would be hidden.)"));
    // Nothing unfinished is left to resume.
    QCOMPARE(fileBytes(QDir(bob.folder.path()).filePath("parts.dat")), QByteArray());
    QVERIFY(pair.a.boxes->boxes().isEmpty() && pair.b.boxes->boxes().isEmpty());
}

void TestFerryAcross::aByteChangedOnTheLineIsCaught()
{
    EnginePair pair;
    LineTap tap(pair.exchange.path(), QStringLiteral("tap"), pair.b.line);
    tap.flipAt = 60000;
    FerryUser ann(*pair.a.engine);
    FerryUser bob(*pair.b.engine);
    QVERIFY(registered(pair, 1));
    QVERIFY(call(pair, QStringLiteral("tap")));
    QTRY_COMPARE(bob.status(), QStringLiteral("Status : Connected"));
    bob.acceptAll();
    const QByteArray file = randomBytes(256 * 1024, 3);
    ann.send({ann.outboxFile("photo.jpg", file)});
    QTRY_VERIFY_WITH_TIMEOUT(ann.allFinished() && !ann.keys(Direction::Outgoing).isEmpty(), 30000);
    const quint64 sent = ann.keys(Direction::Outgoing).first();
    QCOMPARE(ann.window.session().transfer(sent)->state, TransferState::Failed);
    QTRY_VERIFY(bob.allFinished());
    const quint64 received = bob.keys(Direction::Incoming).first();
    QCOMPARE(bob.window.session().transfer(received)->state, TransferState::Failed);
    QVERIFY2(bob.stateShown(received).startsWith(QLatin1String("failed: The other computer sent")),
             qPrintable(bob.stateShown(received)));
    // Not named into place; what is kept arrived intact, so sending again completes it.
    QCOMPARE(bob.inboxNames(), QStringList{"photo.jpg.part"});
    QVERIFY(fileBytes(bob.inboxFile("photo.jpg.part")) ==
            file.left(QFileInfo(bob.inboxFile("photo.jpg.part")).size()));
    ann.select(sent);
    ann.click("SendAgain");
    QTRY_VERIFY_WITH_TIMEOUT(ann.allFinished() && ann.keys(Direction::Outgoing).size() == 2, 30000);
    QCOMPARE(fileBytes(bob.inboxFile("photo.jpg")), file);
}

void TestFerryAcross::dropMidFileThenResume()
{
    auto pair = std::make_unique<EnginePair>();
    auto tap =
        std::make_unique<LineTap>(pair->exchange.path(), QStringLiteral("tap"), pair->b.line);
    tap->cutAt = 400 * 1024;
    FerryUser ann(*pair->a.engine);
    FerryUser bob(*pair->b.engine);
    QVERIFY(registered(*pair, 1));
    QVERIFY(call(*pair, QStringLiteral("tap")));
    QTRY_COMPARE(bob.status(), QStringLiteral("Status : Connected"));
    bob.acceptAll();
    const QByteArray file = randomBytes(1 << 20, 4);
    ann.send({ann.outboxFile("film.bin", file)});
    // The line drops; each engine ends with its call, and with it the programs' connections.
    QTRY_VERIFY_WITH_TIMEOUT(pair->a.ended > 0 && pair->b.ended > 0, 30000);
    tap.reset();
    pair.reset();
    QTRY_COMPARE(ann.status(), QStringLiteral("Status : Disconnected"));
    QTRY_COMPARE(bob.status(), QStringLiteral("Status : Disconnected"));
    const quint64 first = ann.keys(Direction::Outgoing).first();
    const ferryit::TransferInfo before = *ann.window.session().transfer(first);
    QCOMPARE(before.state, TransferState::Failed);
    QVERIFY(
        bob.stateShown(bob.keys(Direction::Incoming).first()).contains(QLatin1String("resumes")));
    QCOMPARE(bob.inboxNames(), QStringList{"film.bin.part"});

    // The next call: both reconnect with one click, and Ann sends the file again.
    EnginePair next;
    ann.window.control()->setEnginePort(next.a.engine->channelPort());
    bob.window.control()->setEnginePort(next.b.engine->channelPort());
    ann.click("Reconnect");
    bob.click("Reconnect");
    QTRY_COMPARE(bob.status(), QStringLiteral("Status : Connected"));
    QVERIFY(registered(next, 1));
    QVERIFY(call(next, next.b.line));
    bob.acceptAll();
    ann.select(first);
    ann.click("SendAgain");
    QTRY_VERIFY_WITH_TIMEOUT(ann.allFinished() && ann.keys(Direction::Outgoing).size() == 2, 30000);
    const ferryit::TransferInfo after =
        *ann.window.session().transfer(ann.keys(Direction::Outgoing).last());
    QCOMPARE(after.state, TransferState::Done);
    QCOMPARE(fileBytes(bob.inboxFile("film.bin")), file);
    QVERIFY(after.resumedFrom > 0);
    const qint64 sentTwice = before.bytesSent - after.resumedFrom;
    QVERIFY2(sentTwice >= 0 && sentTwice <= ferryit::Transfer::MaxWindow,
             qPrintable(QString::number(sentTwice)));
}

QTEST_MAIN(TestFerryAcross)
#include "test_ferry_across.moc"
