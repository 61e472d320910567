// Engines whose virtual modems talk like real ones, driven through their windows: progress,
// info and caller-ID lines, numeric and extended results, every failure a call attempt can
// meet, a hang-up told only in the modem's words, a modem that never answers, and a call
// that fails while it is being answered.

#include "engine/calls/callcontrol.h"
#include "engine/calls/dialer.h"
#include "engine/calls/form3.h"
#include "engine/calls/form4.h"
#include "engine/channels/form2.h"
#include "engine/qtmessageboxes.h"
#include "engine/settings/settingsfile.h"
#include "platform/modemline.h"
#include "tests/e2e/chatuser.h"
#include "tests/e2e/enginepair.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QRadioButton>
#include <functional>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

constexpr int waitMs = 10000;

const QString NoCarrierText = QStringLiteral(
    "There is no carrier.  Please make sure that all your phone cables are properly connected");

// A computer's virtual modem with quick rings, and a record of what its engine wrote to it
// and read from it, and of DTR and carrier detect.
class TappedModem : public SerialBackend
{
public:
    explicit TappedModem(std::unique_ptr<SerialBackend> modem) : modem_(std::move(modem))
    {
        connect(modem_.get(), &SerialBackend::readyRead, this, &SerialBackend::readyRead);
        connect(modem_.get(), &SerialBackend::carrierChanged, this, [this](bool on) {
            carrier.append(on);
            Q_EMIT carrierChanged(on);
        });
        connect(modem_.get(), &SerialBackend::outputDrained, this, &SerialBackend::outputDrained);
        connect(modem_.get(), &SerialBackend::lineError, this, &SerialBackend::lineError);
        connect(modem_.get(), &SerialBackend::failed, this, &SerialBackend::failed);
    }
    bool open(const SerialLineSettings& settings, QString* error) override
    {
        return modem_->open(settings, error);
    }
    void close() override { modem_->close(); }
    bool isOpen() const override { return modem_->isOpen(); }
    void write(const QByteArray& bytes) override
    {
        written += bytes;
        modem_->write(bytes);
    }
    QByteArray readAll() override
    {
        const QByteArray bytes = modem_->readAll();
        read += bytes;
        return bytes;
    }
    qint64 bytesAvailable() const override { return modem_->bytesAvailable(); }
    qint64 outputPending() const override { return modem_->outputPending(); }
    bool carrierDetect() const override { return modem_->carrierDetect(); }
    void setDtr(bool on) override
    {
        dtr.append(on);
        modem_->setDtr(on);
    }
    void setRts(bool on) override { modem_->setRts(on); }

    QByteArray written;
    QByteArray read;
    QList<bool> dtr;
    QList<bool> carrier;

private:
    std::unique_ptr<SerialBackend> modem_;
};

struct Computer
{
    using MakeUp = std::function<void(VirtualModemOptions&)>;
    Computer(const QString& name, const QString& exchange, int trainingDelayMs = 100,
             MakeUp makeUp = {})
        : computer(name, exchange, 0,
                   [this, trainingDelayMs, makeUp](const portmap::PortTarget&,
                                                   const VirtualModemOptions& modem) {
                       VirtualModemOptions options = modem;
                       options.ringIntervalMs = 300;
                       options.trainingDelayMs = trainingDelayMs;
                       if (makeUp)
                           makeUp(options);
                       auto tapped = std::make_unique<TappedModem>(createVirtualModem(options));
                       tap = tapped.get();
                       return std::unique_ptr<SerialBackend>(std::move(tapped));
                   })
    {}

    TellaranEngine& engine() { return *computer.engine; }
    CallControl& calls() { return engine().calls(); }
    QStringList boxes() const { return computer.boxes->texts(); }

    // Commands for the modem before the engine uses it, sent as the engine sends its own
    // start-up commands: open, write, close.
    void configureModem(const QByteArray& commands)
    {
        SerialPort& port = engine().modemPort();
        port.setPortOpen(true);
        port.Output(commands + "\r\n");
        port.setPortOpen(false);
    }
    bool answerMode()
    {
        chooseMode("Option2");
        return QTest::qWaitFor([this] { return calls().isAnswerWindowVisible(); });
    }
    bool dial(const QString& number)
    {
        chooseMode("Option1");
        if (!QTest::qWaitFor([this] { return calls().isDialerVisible(); }))
            return false;
        Dialer& dialer = calls().dialer();
        QTest::keyClicks(control<QLineEdit>(dialer, "Text1"), number);
        QTest::mouseClick(control<QPushButton>(dialer, "Command1"), Qt::LeftButton);
        return calls().isDialingWindowVisible();
    }
    QString answerState() { return control<QLabel>(calls().form4(), "Label1")->text(); }

    TappedModem* tap = nullptr;
    TestComputer computer;

private:
    void chooseMode(const char* option)
    {
        calls().startAtModeWindow();
        QTest::mouseClick(control<QRadioButton>(calls().form3(), option), Qt::LeftButton);
    }
};

bool bothConnected(Computer& a, Computer& b)
{
    return QTest::qWaitFor(
        [&] { return a.engine().modemConnected() && b.engine().modemConnected(); }, waitMs);
}

} // namespace

class TestModemResults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(exchange_.isValid()); }
    void aCallAttemptThatFails_data();
    void aCallAttemptThatFails();
    void numericRingAndConnect();
    void extendedConnectCallerIdAndPayloadWords();
    void hangUpToldOnlyByNoCarrier();
    void aModemThatNeverAnswersIsHungUp();
    void aFailedAnswerWaitsAgain();
    void lateModemsThatRefuseCommandsConnect();
    void disconnectHangsUpAModemThatIgnoresDtr();
    void realBoxesCloseWhenTheirOwnerSays();

private:
    QTemporaryDir exchange_;
};

void TestModemResults::aCallAttemptThatFails_data()
{
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("box");
    const auto reported = [](const char* word) {
        return QStringLiteral("The modem reported %1. The call was not made.")
            .arg(QLatin1String(word));
    };
    QTest::newRow("no dialtone")
        << QByteArray("AT") << "TEST-NODIALTONE"
        << QStringLiteral("There is no dialtone.  Please check your modem connections.");
    QTest::newRow("delayed") << QByteArray("AT") << "TEST-DELAYED" << reported("DELAYED");
    QTest::newRow("blacklisted") << QByteArray("AT") << "TEST-BLACKLISTED"
                                 << reported("BLACKLISTED");
    QTest::newRow("error") << QByteArray("AT") << "TEST-ERROR" << reported("ERROR");
    QTest::newRow("voice") << QByteArray("AT") << "TEST-VOICE" << reported("VOICE");
    QTest::newRow("numeric busy") << QByteArray("ATV0") << "TEST-BUSY"
                                  << QStringLiteral("The number is busy.  Please try again later.");
    // RINGING lines while the other end rings: no "ATA" typed into the call attempt.
    QTest::newRow("ringing")
        << QByteArray("ATS7=1") << "TEST-RINGING"
        << QStringLiteral("There was no answer from the remote modem / Tellaran is not running "
                          "at the other end. Please try again later.");
}

void TestModemResults::aCallAttemptThatFails()
{
    QFETCH(QByteArray, commands);
    QFETCH(QString, number);
    QFETCH(QString, box);
    Computer bob(QStringLiteral("bob"), exchange_.path());
    bob.configureModem(commands);
    QVERIFY(bob.dial(number));
    QTRY_COMPARE_WITH_TIMEOUT(bob.boxes(), QStringList{box}, waitMs);
    QVERIFY(bob.calls().isDialerVisible());
    QVERIFY(!bob.calls().isForm6Loaded());
    QCOMPARE(bob.calls().dialer().numberText(), number);
    // Nothing was written after the dial command.
    QVERIFY(bob.tap->written.endsWith("ATD" + number.toLatin1() + "\r\n"));
    QVERIFY(!bob.engine().modemConnected());
}

void TestModemResults::numericRingAndConnect()
{
    Computer ann(QStringLiteral("ann"), exchange_.path());
    Computer bob(QStringLiteral("bob"), exchange_.path());
    ann.configureModem("ATV0");
    QVERIFY(ann.answerMode());
    QVERIFY(bob.dial(QStringLiteral("ann")));
    QVERIFY(bothConnected(ann, bob));
    // "2" was answered with "ATA", and the "1" behind its echo connected.
    QVERIFY(ann.tap->read.contains("0\r2\r"));
    QVERIFY(ann.tap->read.contains("ATA1\r"));
    QVERIFY(ann.tap->written.endsWith("ATA"));
    QTRY_VERIFY(ann.engine().statusWindow().isVisible());
    QVERIFY(!ann.calls().isAnswerWindowVisible());
    QVERIFY(ann.boxes().isEmpty() && bob.boxes().isEmpty());
}

void TestModemResults::extendedConnectCallerIdAndPayloadWords()
{
    Computer ann(QStringLiteral("ann"), exchange_.path());
    Computer bob(QStringLiteral("bob"), exchange_.path());
    ann.configureModem("ATW2+VCID=1");
    bob.configureModem("AT+VNAME=\"CONNECTICUT GAS\"");
    QVERIFY(ann.answerMode());
    // Ann's modem answers on the second ring, so the caller ID comes in between.
    ann.engine().modemPort().Output("ATS0=2\r\n");
    QVERIFY(bob.dial(QStringLiteral("ann")));

    QTRY_VERIFY_WITH_TIMEOUT(ann.tap->read.contains("\r\nNAME = CONNECTICUT GAS\r\n"), waitMs);
    QVERIFY(!ann.engine().modemConnected());
    QVERIFY(!ann.engine().statusWindow().isVisible());
    QVERIFY(ann.calls().isAnswerWindowVisible());
    QCOMPARE(ann.answerState(), QStringLiteral("Connecting..."));

    QVERIFY(bothConnected(ann, bob));
    QVERIFY(
        ann.tap->read.contains("\r\nCARRIER\r\n\r\nPROTOCOL: LAPM\r\n\r\nCOMPRESSION: V42BIS\r\n"
                               "\r\nCONNECT/ARQ/V90/LAPM/V42BIS\r\n"));

    // A line of the users holding every result word is only chat.
    ChatUser annChat(QStringLiteral("Ann"), ann.engine());
    ChatUser bobChat(QStringLiteral("Bob"), bob.engine());
    annChat.connect();
    bobChat.connect();
    QTRY_COMPARE_WITH_TIMEOUT(ann.engine().statusWindow().channelTable().records().size(), 1,
                              waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(bobChat.status(), QStringLiteral("Status : Connected"), waitMs);
    const QByteArray annWrote = ann.tap->written;
    const QString words = QStringLiteral("RING NO CARRIER CONNECT BUSY ERROR VOICE 3 OK");
    bobChat.type(words);
    QTRY_COMPARE_WITH_TIMEOUT(annChat.conversation(), "Bob- " + words + "\n", waitMs);
    QVERIFY(!ann.tap->written.mid(annWrote.size()).contains("ATA"));
    QVERIFY(ann.engine().modemConnected());
    QVERIFY(ann.boxes().isEmpty() && bob.boxes().isEmpty());
}

void TestModemResults::hangUpToldOnlyByNoCarrier()
{
    Computer ann(QStringLiteral("ann"), exchange_.path());
    Computer bob(QStringLiteral("bob"), exchange_.path());
    // Bob's modem holds carrier detect on.
    bob.configureModem("AT&C0");
    QVERIFY(ann.answerMode());
    QVERIFY(bob.dial(QStringLiteral("ann")));
    QVERIFY(bothConnected(ann, bob));
    QTRY_VERIFY_WITH_TIMEOUT(bob.engine().dialerTimeText() != QStringLiteral("00:00:00"), waitMs);

    QTest::mouseClick(control<QWidget>(ann.engine().statusWindow(), "Button6"), Qt::LeftButton);
    QCOMPARE(ann.computer.ended, 1);
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(bob.computer.ended, 1, waitMs);
    // The way out runs inside the line that told of the hang-up; the reply to its ATH is
    // still heard at once, not after the two seconds it may take.
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(bob.boxes(), QStringList{QStringLiteral("Remote computer disconnected")});
    const QByteArray stored = SettingsFile(bob.engine().programDir()).ReadStoredTime();
    QCOMPARE(stored, bob.engine().dialerTimeText().toLatin1());
    QVERIFY(stored != "00:00:00");
    QVERIFY(bob.tap->read.contains("\r\nNO CARRIER\r\n"));
    QVERIFY(bob.tap->carrier.isEmpty());
    // Carrier detect cannot show that Bob's modem hung up, but the modem said it did: "ATH"
    // on the way out makes sure, with no escape.
    QVERIFY(bob.tap->written.endsWith("ATH\r\n"));
    QVERIFY(!bob.tap->written.contains("+++"));
}

void TestModemResults::aModemThatNeverAnswersIsHungUp()
{
    Computer bob(QStringLiteral("bob"), exchange_.path());
    bob.calls().setDialWatchdogInterval(1000);
    QVERIFY(bob.dial(QStringLiteral("TEST-SILENT")));
    QTest::qWait(500);
    QVERIFY(bob.calls().isDialingWindowVisible());
    QVERIFY(bob.boxes().isEmpty());

    QTRY_VERIFY_WITH_TIMEOUT(bob.calls().isDialerVisible(), waitMs);
    QCOMPARE(bob.boxes(),
             QStringList{QStringLiteral("The modem gave no answer to the dial command.")});
    QVERIFY(bob.tap->dtr.contains(false));
    QCOMPARE(bob.calls().dialer().numberText(), QStringLiteral("TEST-SILENT"));
    // What the modem says to the hang-up is no second failure.
    QTest::qWait(300);
    QCOMPARE(bob.boxes().size(), 1);

    // The modem works again for the next call.
    control<QLineEdit>(bob.calls().dialer(), "Text1")->setText(QStringLiteral("TEST-BUSY"));
    QTest::mouseClick(control<QPushButton>(bob.calls().dialer(), "Command1"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bob.boxes().size(), 2, waitMs);
    QCOMPARE(bob.boxes().last(), QStringLiteral("The number is busy.  Please try again later."));
}

void TestModemResults::aFailedAnswerWaitsAgain()
{
    // A long training time, so that the caller can leave after the answer and before CONNECT.
    Computer ann(QStringLiteral("ann"), exchange_.path(), 1500);
    QVERIFY(ann.answerMode());
    QLocalSocket caller;
    caller.connectToServer(exchange_.path() + QStringLiteral("/ann"));
    QVERIFY(caller.waitForConnected(waitMs));
    caller.write(ModemHandshake::call);
    QTRY_VERIFY_WITH_TIMEOUT(caller.bytesAvailable() > 0, waitMs);
    QCOMPARE(caller.readAll(), ModemHandshake::answer);
    caller.abort();

    QTRY_COMPARE_WITH_TIMEOUT(ann.boxes(), QStringList{NoCarrierText}, waitMs);
    QCOMPARE(ann.answerState(), QStringLiteral("Waiting For Connection"));
    const QString log = control<QPlainTextEdit>(ann.calls().form4(), "Text1")->toPlainText();
    QVERIFY2(log.endsWith(QStringLiteral("Connecting...\nAnswer failed: NO CARRIER\n"
                                         "Waiting For Connection...")),
             qPrintable(log));
    QVERIFY(ann.calls().isAnswerWindowVisible());
    QCOMPARE(ann.computer.ended, 0);

    // The next call is answered.
    Computer bob(QStringLiteral("bob"), exchange_.path());
    QVERIFY(bob.dial(QStringLiteral("ann")));
    QVERIFY(bothConnected(ann, bob));
}

// Modems that reply 300 ms late and know neither AT%C3 nor ATL: the start-up takes each
// reply in turn, nothing late is taken for a result, and the call comes up with no box.
void TestModemResults::lateModemsThatRefuseCommandsConnect()
{
    const Computer::MakeUp late = [](VirtualModemOptions& options) {
        options.replyDelayMs = 300;
        options.rejectedCommands = {"AT%C3", "ATL"};
    };
    Computer ann(QStringLiteral("ann"), exchange_.path(), 100, late);
    Computer bob(QStringLiteral("bob"), exchange_.path(), 100, late);
    QVERIFY(ann.answerMode());
    const QString log = control<QPlainTextEdit>(ann.calls().form4(), "Text1")->toPlainText();
    QVERIFY2(log.contains(QStringLiteral("The modem did not accept AT%C3\nThe modem did not "
                                         "accept ATL 2\nWaiting For Connection...")),
             qPrintable(log));
    QVERIFY(bob.dial(QStringLiteral("ann")));
    QVERIFY(bothConnected(ann, bob));
    for (Computer* computer : {&ann, &bob}) {
        QCOMPARE(computer->tap->written.count("AT%C3\r\n"), 1);
        QCOMPARE(computer->engine().modemStartUpRefusals(), (QByteArrayList{"AT%C3", "ATL 2"}));
        QVERIFY(computer->boxes().isEmpty());
    }
}

// DTR does not hang up Bob's modem: his Disconnect goes on to the escape and ATH, at the
// real guard times, and Ann sees the call end.
void TestModemResults::disconnectHangsUpAModemThatIgnoresDtr()
{
    Computer ann(QStringLiteral("ann"), exchange_.path());
    Computer bob(QStringLiteral("bob"), exchange_.path(), 100,
                 [](VirtualModemOptions& options) { options.ignoreDtr = true; });
    QVERIFY(ann.answerMode());
    QVERIFY(bob.dial(QStringLiteral("ann")));
    QVERIFY(bothConnected(ann, bob));
    const qsizetype before = bob.tap->written.size();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(control<QWidget>(bob.engine().statusWindow(), "Button6"), Qt::LeftButton);
    const qint64 took = clock.elapsed();
    QCOMPARE(bob.computer.ended, 1);
    QCOMPARE(bob.tap->written.mid(before), QByteArray("+++ATH\r\n"));
    QVERIFY(bob.tap->dtr.contains(false));
    // A second for carrier detect, then 1.1 s of silence on each side of the escape.
    QVERIFY2(took >= 3200 && took < 4500, qPrintable(QString::number(took)));
    QTRY_COMPARE_WITH_TIMEOUT(ann.computer.ended, 1, waitMs);
    QCOMPARE(ann.boxes(), QStringList{QStringLiteral("Remote computer disconnected")});
}

// The program's own boxes, not the scripted ones: closed by their owner, a question returns
// the answer that commits to nothing; another owner's box stays.
void TestModemResults::realBoxesCloseWhenTheirOwnerSays()
{
    QtMessageBoxes boxes;
    int owner = 0;
    int other = 0;
    QTimer::singleShot(100, [&] { boxes.closeBoxes(&other); });
    QTimer::singleShot(300, [&] { boxes.closeBoxes(&owner); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(boxes.showClosable(QStringLiteral("Still there?"), QString(), BoxIcon::Question,
                                BoxButtons::YesNo, &owner),
             BoxAnswer::No);
    QVERIFY(clock.elapsed() >= 295);
}

QTEST_MAIN(TestModemResults)
#include "test_modem_results.moc"
