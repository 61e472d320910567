// The Ferryit window, offscreen, against a stand-in engine: the status line, offers answered
// with the buttons and the keys, the folder, and what the buttons put on the wire.
#include "client/tellaran.h"
#include "ferry/ferryfiles.h"
#include "ferry/ferrywindow.h"
#include "ferry/messages.h"
#include "ferry/wireencoding.h"
#include "tests/support/controls.h"
#include "tests/support/windowcheck.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace ferryit;
using tellaran::testing::control;

namespace {

// The window in a temporary program folder, its dialogs answered by the test, and a
// stand-in engine that decodes what the window sends.
struct Ferry
{
    Ferry()
        : window(program.path(),
                 {[this](QWidget*) { return toSend; },
                  [this](QWidget*, const QString&) { return chosenFolder; },
                  [this](QWidget*, const QString& text) { errors << text; }, [this] { ++ended; }})
    {
        [[maybe_unused]] const bool listening = server.listen(QHostAddress::Any);
        window.control()->setEnginePort(server.serverPort());
    }
    QString status() { return control<QLabel>(window, "StatusLabel")->text(); }
    QPushButton* button(const char* name) { return control<QPushButton>(window, name); }
    QTreeWidget* list() { return control<QTreeWidget>(window, "Transfers"); }
    // Connects; returns the engine's end once the registration came.
    QTcpSocket* connectEngine()
    {
        window.connectToEngine();
        if (!server.waitForNewConnection(5000))
            return nullptr;
        engine = server.nextPendingConnection();
        QObject::connect(engine, &QTcpSocket::readyRead, [this] { take(engine->readAll()); });
        const bool up = QTest::qWaitFor([&] { return status() == "Status : Connected"; }, 5000);
        return up && QTest::qWaitFor([&] { return registered; }, 5000) ? engine : nullptr;
    }
    void fromPeer(const Message& message)
    {
        engine->write(wire::encodeMessage(serializeMessage(message)));
    }
    bool sent(MessageType type) const
    {
        return std::any_of(messages.begin(), messages.end(),
                           [&](const Message& m) { return m.type == type; });
    }
    void take(const QByteArray& bytes)
    {
        wire_ += bytes;
        if (wire_.startsWith("<request>ferryit1")) {
            registered = true;
            wire_.remove(0, 17);
        }
        for (qsizetype end; (end = wire_.indexOf("KvekEND")) >= 0;) {
            const QByteArray frame = wire_.left(end);
            wire_.remove(0, end + 7);
            wire::MessageDecoder([&](const QByteArray& raw) {
                messages << parseMessage(raw).message;
            }).feed(frame.mid(10, frame.size() - 20));
        }
    }

    QTemporaryDir program;
    QTemporaryDir folder;
    QStringList toSend;
    QString chosenFolder;
    QStringList errors;
    int ended = 0;
    QTcpServer server;
    QTcpSocket* engine = nullptr;
    bool registered = false;
    QList<Message> messages;
    QByteArray wire_;
    FerryWindow window;
};

Message offer(quint32 id, const QByteArray& name)
{
    return {MessageType::Offer,
            id,
            3,
            false,
            QCryptographicHash::hash("abc", QCryptographicHash::Sha256),
            name};
}

} // namespace

class TestFerryWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void statusFollowsTheEngine();
    void offersAreAnsweredWithButtonsAndKeys();
    void sendingAndTheFolder();
    void controlsCanBeReachedWithoutAMouse();
};

void TestFerryWindow::statusFollowsTheEngine()
{
    Ferry ferry;
    QCOMPARE(ferry.status(), QStringLiteral("Status : Disconnected"));
    QCheckBox* acceptAll = control<QCheckBox>(ferry.window, "AcceptAll");
    QVERIFY(!acceptAll->isEnabled());
    QTcpSocket* engine = ferry.connectEngine();
    QVERIFY(engine);
    QVERIFY(!ferry.button("Reconnect")->isEnabled());
    // The window says hello, and says who answers.
    QTRY_VERIFY(ferry.sent(MessageType::Hello));
    QCOMPARE(control<QLabel>(ferry.window, "PeerLabel")->text(),
             QStringLiteral("No Ferryit has answered yet on the other computer."));
    ferry.fromPeer({MessageType::Hello, 0, 0, false, {}, {}});
    QTRY_COMPARE(control<QLabel>(ferry.window, "PeerLabel")->text(),
                 QStringLiteral("The other computer's Ferryit answers."));
    acceptAll->click();
    QVERIFY(ferry.window.session().acceptAll());

    // The engine goes: accepting all ends with the call, and Reconnect is one click away.
    engine->close();
    QTRY_COMPARE(ferry.status(), QStringLiteral("Status : Disconnected"));
    QVERIFY(!acceptAll->isChecked() && !acceptAll->isEnabled());
    QVERIFY(ferry.button("Reconnect")->isEnabled());
    QTest::mouseClick(ferry.button("Reconnect"), Qt::LeftButton);
    QVERIFY(ferry.server.waitForNewConnection(5000));
    QTRY_COMPARE(ferry.status(), QStringLiteral("Status : Connected"));

    // No engine at all: the status line says so.
    Ferry alone;
    alone.server.close();
    alone.window.connectToEngine();
    QTRY_COMPARE(alone.status(),
                 QStringLiteral("Status : The engine does not answer; is Tellaran running?"));
    QVERIFY(alone.button("Reconnect")->isEnabled());
}

void TestFerryWindow::offersAreAnsweredWithButtonsAndKeys()
{
    Ferry ferry;
    ferry.window.session().setReceiveFolder(ferry.folder.path());
    QVERIFY(ferry.connectEngine());
    ferry.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ferry.window));

    // An offer is selected, ready for Enter; Escape declines it.
    ferry.fromPeer(offer(1, "first.txt"));
    QTRY_COMPARE(ferry.list()->topLevelItemCount(), 1);
    QCOMPARE(ferry.list()->currentItem()->text(0), QStringLiteral("first.txt"));
    QCOMPARE(ferry.list()->currentItem()->text(5),
             QStringLiteral("waiting: waiting for you to accept"));
    QVERIFY(ferry.button("AcceptOffer")->isEnabled() && ferry.button("DeclineOffer")->isEnabled());
    QCOMPARE(QApplication::focusWidget(), ferry.button("AcceptOffer"));
    QTest::keyClick(ferry.list(), Qt::Key_Escape);
    QTRY_VERIFY(ferry.sent(MessageType::Decline));
    QCOMPARE(ferry.list()->topLevelItem(0)->text(5), QStringLiteral("cancelled: Declined."));
    QVERIFY(!ferry.button("AcceptOffer")->isEnabled());

    // The next one is accepted with the button, then cancelled: the other side is told.
    ferry.list()->clearSelection();
    ferry.fromPeer(offer(2, "../second.txt"));
    QTRY_COMPARE(ferry.list()->topLevelItemCount(), 2);
    QCOMPARE(ferry.list()->currentItem()->text(0), QStringLiteral("second.txt"));
    QVERIFY(ferry.list()->currentItem()->text(5).contains(
        QLatin1String("only the last part of a path is used")));
    // Enter on the focused Accept button.
    QCOMPARE(QApplication::focusWidget(), ferry.button("AcceptOffer"));
    QTest::keyClick(ferry.button("AcceptOffer"), Qt::Key_Return);
    QTRY_VERIFY(ferry.sent(MessageType::Accept));
    QVERIFY(QFile::exists(QDir(ferry.folder.path()).filePath("second.txt.part")));
    QVERIFY(ferry.button("CancelTransfer")->isEnabled());
    QTest::mouseClick(ferry.button("CancelTransfer"), Qt::LeftButton);
    QTRY_VERIFY(std::any_of(ferry.messages.begin(), ferry.messages.end(), [](const Message& m) {
        return m.type == MessageType::ReceiverCancel && m.id == 2 && m.flag;
    }));
    QVERIFY(ferry.list()->currentItem()->text(5).startsWith(
        QLatin1String("cancelled: Cancelled. (Offered as")));
    QVERIFY(!QFile::exists(QDir(ferry.folder.path()).filePath("second.txt.part")));
}

void TestFerryWindow::sendingAndTheFolder()
{
    Ferry ferry;
    // The folder chosen is used and remembered for the next start.
    ferry.chosenFolder = ferry.folder.path();
    QTest::mouseClick(ferry.button("ChooseFolder"), Qt::LeftButton);
    QCOMPARE(control<QLineEdit>(ferry.window, "FolderBox")->text(), ferry.folder.path());
    QCOMPARE(readReceiveFolder(ferry.program.path()), ferry.folder.path());
    QCOMPARE(ferry.window.session().receiveFolder(), ferry.folder.path());
    ferry.chosenFolder.clear();
    QTest::mouseClick(ferry.button("ChooseFolder"), Qt::LeftButton);
    QCOMPARE(ferry.window.session().receiveFolder(), ferry.folder.path());

    // Files chosen in the dialog are offered once the engine is reached; a folder is refused.
    QVERIFY(ferry.connectEngine());
    QFile file(QDir(ferry.folder.path()).filePath("notes.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("abc") == 3);
    file.close();
    ferry.toSend = {ferry.folder.path(), file.fileName()};
    QTest::mouseClick(ferry.button("SendFiles"), Qt::LeftButton);
    QTRY_VERIFY(ferry.sent(MessageType::Offer));
    const Message sent =
        *std::find_if(ferry.messages.begin(), ferry.messages.end(),
                      [](const Message& m) { return m.type == MessageType::Offer; });
    QCOMPARE(sent.bytes, QByteArray("notes.txt"));
    QCOMPARE(sent.number, 3);
    QCOMPARE(ferry.list()->topLevelItem(0)->text(5),
             QStringLiteral("failed: Folders cannot be sent, only files."));
    QCOMPARE(ferry.list()->topLevelItem(1)->text(5),
             QStringLiteral("waiting: waiting for the other computer to accept"));
    // A failed transfer can be sent again; closing the window tells the other side.
    ferry.list()->setCurrentItem(ferry.list()->topLevelItem(1));
    QVERIFY(!ferry.button("SendAgain")->isEnabled());
    ferry.window.close();
    QCOMPARE(ferry.ended, 1);
    QTRY_VERIFY(ferry.sent(MessageType::SenderCancel));
}

void TestFerryWindow::controlsCanBeReachedWithoutAMouse()
{
    Ferry ferry;
    for (QPushButton* button : ferry.window.findChildren<QPushButton*>()) {
        QVERIFY2(!button->accessibleName().isEmpty(), qPrintable(button->objectName()));
        QVERIFY2(button->text().contains(QLatin1Char('&')), qPrintable(button->objectName()));
    }
    QCOMPARE(control<QLabel>(ferry.window, "FolderLabel")->buddy(),
             control<QLineEdit>(ferry.window, "FolderBox"));
    QVERIFY(!ferry.list()->accessibleName().isEmpty());
    // Mnemonics are not used twice.
    QStringList mnemonics;
    for (QAbstractButton* button : ferry.window.findChildren<QAbstractButton*>()) {
        const qsizetype amp = button->text().indexOf(QLatin1Char('&'));
        if (amp >= 0)
            mnemonics << button->text().mid(amp + 1, 1).toLower();
    }
    mnemonics << "f";
    QCOMPARE(QSet<QString>(mnemonics.begin(), mnemonics.end()).size(), mnemonics.size());
    // As a screen reader and the keyboard meet it, under a light and a dark desktop.
    ferry.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ferry.window));
    VERIFY_NO_WINDOW_PROBLEMS(ferry.window);
}

QTEST_MAIN(TestFerryWindow)
#include "test_ferry_window.moc"
