// The modem window's start-up and receive path, with a scripted modem behind the port and a
// real channel server in front of Winsock1.

#include "engine/channels/form2.h"
#include "engine/link/frames.h"
#include "engine/link/modemlink.h"
#include "engine/settings/settingsfile.h"
#include "platform/portmap.h"
#include "tests/support/fakeengine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QMap>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

// The modem as the port sees it: records every write with the open it belongs to, and lets
// the test deliver bytes and carrier changes. With autoReply it answers each command line
// as a modem does, echo first, after replyDelay (per command in delays); a modem handles its
// commands in turn, so what it says waits behind a reply still due.
class ScriptedModem : public SerialBackend
{
public:
    ScriptedModem()
    {
        clock.start();
        saying_.setSingleShot(true);
        saying_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&saying_, &QTimer::timeout, this, [this] { sayWhatIsDue(); });
    }
    bool open(const SerialLineSettings& settings, QString*) override
    {
        lastSettings = settings;
        ++opens;
        return isOpen_ = true;
    }
    void close() override { isOpen_ = false; }
    bool isOpen() const override { return isOpen_; }
    void write(const QByteArray& bytes) override
    {
        writes.append(bytes);
        writeTimes.append(clock.elapsed());
        if (autoReply)
            reply(bytes);
    }
    QByteArray readAll() override { return std::exchange(incoming_, QByteArray()); }
    qint64 bytesAvailable() const override { return incoming_.size(); }
    qint64 outputPending() const override { return 0; }
    bool carrierDetect() const override { return carrier_; }
    bool canReadCarrierDetect() const override { return carrierReadable; }
    void setDtr(bool on) override
    {
        dtr.append(on);
        if (!on && hangsUpOnDtr && carrier_)
            setCarrier(false);
    }
    void setRts(bool) override {}

    void receive(const QByteArray& bytes)
    {
        incoming_ += bytes;
        Q_EMIT readyRead();
    }
    // Bytes waiting in the device, with no event yet.
    void leaveWaiting(const QByteArray& bytes) { incoming_ += bytes; }
    void setCarrier(bool on)
    {
        carrier_ = on;
        Q_EMIT carrierChanged(on);
    }
    void raiseLineError(int code) { Q_EMIT lineError(code); }

    QByteArrayList writes;
    QList<qint64> writeTimes;
    QList<bool> dtr;
    SerialLineSettings lastSettings;
    int opens = 0;
    QElapsedTimer clock;

    bool autoReply = true;
    int replyDelay = 0;
    QMap<QByteArray, int> delays;
    QByteArrayList rejected;
    // Commands it never answers (no echo either).
    QByteArrayList silent;
    bool answersEscape = true;
    bool hangsUpOnDtr = true;
    bool carrierReadable = true;

private:
    void reply(const QByteArray& bytes)
    {
        if (bytes == "+++") {
            if (answersEscape)
                say(QByteArray(), "\r\nOK\r\n", replyDelay);
            return;
        }
        if (!bytes.endsWith("\r\n"))
            return;
        const QByteArray command = bytes.chopped(2);
        if (silent.contains(command))
            return;
        say(command + "\r", rejected.contains(command) ? "\r\nERROR\r\n" : "\r\nOK\r\n",
            delays.value(command, replyDelay));
    }
    // In order, as a serial line delivers it, each at its time.
    void say(const QByteArray& echo, const QByteArray& result, int delay)
    {
        const qint64 echoAt = std::max(clock.elapsed(), due_);
        due_ = echoAt + delay;
        if (!echo.isEmpty())
            said_.push_back({echoAt, echo});
        said_.push_back({due_, result});
        if (!saying_.isActive())
            saying_.start(int(std::max<qint64>(0, said_.front().first - clock.elapsed())));
    }
    void sayWhatIsDue()
    {
        while (!said_.empty() && said_.front().first <= clock.elapsed()) {
            const QByteArray bytes = said_.front().second;
            said_.pop_front();
            receive(bytes);
        }
        if (!said_.empty() && !saying_.isActive())
            saying_.start(int(std::max<qint64>(0, said_.front().first - clock.elapsed())));
    }

    bool isOpen_ = false;
    bool carrier_ = false;
    QByteArray incoming_;
    qint64 due_ = 0;
    std::deque<std::pair<qint64, QByteArray>> said_;
    QTimer saying_;
};

// A local program registered on the engine's channel server.
class Program
{
public:
    Program(quint16 port, const QByteArray& dataId)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(5000))
            socket.write(frames::registration(dataId));
    }
    QTcpSocket socket;
    QByteArray received;
};

struct Bench
{
    explicit Bench(const SettingsRecord& settings = DeliveredSettings())
    {
        engine.statusWindowFactory = [](Engine& e) { return std::make_shared<Form2>(e); };
        SettingsFile(engine.programDir()).SaveSettings(settings);
        SerialEnvironment environment;
        environment.portMapFile = engine.dataPath(QStringLiteral("ports.dat"));
        environment.backendFactory = [this](const portmap::PortTarget&,
                                            const VirtualModemOptions&) {
            auto backend = std::make_unique<ScriptedModem>();
            modem = backend.get();
            if (makeUp)
                makeUp(*backend);
            return backend;
        };
        link = std::make_unique<ModemLink>(engine, environment);
        link->setReconnectDelay(20);
    }
    // The start-up, then the port opened as the answer or dial command opens it; from here
    // on the test says what the modem says.
    void loadAndOpen()
    {
        engine.statusWindow();
        link->Load();
        link->MSComm1.setPortOpen(true);
        modem->writes.clear();
        modem->writeTimes.clear();
        modem->autoReply = false;
    }
    bool winsockUp()
    {
        return QTest::qWaitFor([this] { return link->Winsock1.State() == Socket::Connected; },
                               5000);
    }

    FakeEngine engine;
    ScriptedModem* modem = nullptr;
    // How the modem behaves, given before it is first opened.
    std::function<void(ScriptedModem&)> makeUp;
    std::unique_ptr<ModemLink> link;
};

// Collects the messages of the tellaran.* categories while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        active_ = this;
        previous_ = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous_);
        active_ = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }
    // The messages of one category, in order.
    QStringList of(const char* category) const { return messages_.value(QLatin1String(category)); }
    int count() const { return int(messages_.size()); }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        const QString category = QLatin1String(context.category);
        if (active_ && category.startsWith(QLatin1String("tellaran.")))
            active_->messages_[category].append(text);
        else if (active_ && active_->previous_)
            active_->previous_(type, context, text);
    }
    static inline LogCapture* active_ = nullptr;
    QtMessageHandler previous_ = nullptr;
    QMap<QString, QStringList> messages_;
};

QByteArrayList commandsAsSent(const QByteArrayList& commands)
{
    QByteArrayList result;
    for (const QByteArray& command : commands)
        result.append(command + "\r\n");
    return result;
}

} // namespace

class TestModemLink : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startUpConfiguresThePortAndSendsTheCommands_data();
    void startUpConfiguresThePortAndSendsTheCommands();
    void startUpDoesNotConnectWinsockTwice();
    void startUpWaitsForEachReply();
    void onlyTheCallsOwnReplyIsItsResult();
    void theModemIsHeardWhileAFailureBoxIsOpen_data();
    void theModemIsHeardWhileAFailureBoxIsOpen();
    void hangUpGoesAsFarAsItMust_data();
    void hangUpGoesAsFarAsItMust();
    void commandModeLines();
    void resultWordsShowTheirMessages_data();
    void resultWordsShowTheirMessages();
    void failedAnswerGoesBackToWaiting();
    void noCarrierWhileConnectedEndsTheCallOnce_data();
    void noCarrierWhileConnectedEndsTheCallOnce();
    void noCarrierEndingAStalledFrame();
    void connectPutsTheEngineOnline();
    void carrierBeforeConnectStartsTheClock();
    void linkFramesAreRelayed();
    void damagedFramesAreDroppedAndCounted();
    void relayFramesWaitForWinsock();
    void lineErrorsAreReported();
    void carrierLossStoresTheTimeAndEnds();
    void carrierLossWithoutTableFile();
    void modemDialogueIsLogged();
};

void TestModemLink::startUpConfiguresThePortAndSendsTheCommands_data()
{
    QTest::addColumn<int>("volume");
    QTest::addColumn<bool>("compression");
    QTest::addColumn<bool>("untilConnect");
    QTest::addColumn<bool>("alwaysOn");
    QTest::addColumn<bool>("pulse");
    QTest::addColumn<bool>("tone");
    QTest::addColumn<QByteArrayList>("expected");

    QTest::newRow("plain tone") << 2 << false << false << false << false << true
                                << QByteArrayList{"ATX4", "AT+MS=56,1", "ATL 2", "ATT"};
    QTest::newRow("volume off, no dial method") << 0 << false << false << false << false << false
                                                << QByteArrayList{"ATX4", "AT+MS=56,1", "ATL 0"};
    QTest::newRow("everything ticked")
        << 3 << true << true << true << true << false
        << QByteArrayList{"ATX4", "AT%C3", "AT+MS=56,1", "ATL 3", "ATM1", "ATM2", "ATP"};
}

void TestModemLink::startUpConfiguresThePortAndSendsTheCommands()
{
    SettingsRecord settings = DeliveredSettings();
    QFETCH(int, volume);
    settings.speakerVolume = volume;
    QFETCH(bool, compression);
    settings.useCompression = compression;
    QFETCH(bool, untilConnect);
    settings.speakerUntilConnect = untilConnect;
    QFETCH(bool, alwaysOn);
    settings.speakerAlwaysOn = alwaysOn;
    QFETCH(bool, pulse);
    settings.pulseDial = pulse;
    QFETCH(bool, tone);
    settings.toneDial = tone;
    settings.portNumber = "4";
    settings.outBufferSize = "512";
    settings.portSettings = "19200,e,7,2";
    Bench bench(settings);

    bench.engine.statusWindow();
    bench.link->Load();
    QFETCH(QByteArrayList, expected);
    // One open and one write per command, and the port closed again after them.
    QCOMPARE(bench.modem->writes, commandsAsSent(expected));
    QCOMPARE(bench.modem->opens, 1);
    QVERIFY(!bench.link->MSComm1.PortOpen());
    QVERIFY(!bench.link->Connected);
    QCOMPARE(bench.link->MSComm1.CommPort(), 4);
    QCOMPARE(bench.link->MSComm1.OutBufferSize(), 512);
    QCOMPARE(bench.link->MSComm1.Handshaking(), 2);
    QCOMPARE(bench.modem->lastSettings.settings, QStringLiteral("19200,e,7,2"));
    QVERIFY(bench.modem->lastSettings.dtrEnable);
    QVERIFY(bench.modem->lastSettings.rtsEnable);
}

void TestModemLink::startUpDoesNotConnectWinsockTwice()
{
    Bench bench;
    bench.engine.statusWindow();
    bench.link->Load();
    QVERIFY(bench.winsockUp());
    bench.link->Load();
    QTest::qWait(50);
    QCOMPARE(bench.link->Winsock1.State(), int(Socket::Connected));
    QCOMPARE(bench.engine.statusWindow().channelServer().Listener().UBound(), 1);
}

// Each command goes out once, in order, on one opening of the port, after the reply to the
// one before: within the time it counts (200 ms of 400), later it does not (500), and then
// it is not taken for the next command's reply either. ERROR is a refusal too.
void TestModemLink::startUpWaitsForEachReply()
{
    LogCapture log;
    QLoggingCategory::setFilterRules(QStringLiteral("tellaran.modem.debug=true"));
    Bench bench;
    bench.makeUp = [](ScriptedModem& modem) {
        modem.replyDelay = 200;
        modem.delays = {{"AT+MS=56,1", 500}};
        modem.rejected = {"AT%C3"};
    };
    bench.link->setReplyTimeout(400);
    bench.engine.statusWindow();
    bench.link->Load();
    QCOMPARE(bench.modem->writes,
             commandsAsSent({"ATX4", "AT%C3", "AT+MS=56,1", "ATL 2", "ATM1", "ATT"}));
    QCOMPARE(bench.modem->opens, 1);
    QVERIFY(!bench.link->MSComm1.PortOpen());
    QCOMPARE(bench.link->startUpRefusals(), (QByteArrayList{"AT%C3", "AT+MS=56,1"}));
    const QList<qint64>& at = bench.modem->writeTimes;
    // AT+MS=56,1 waited the whole 400 ms; its reply came 100 ms into ATL's wait, and only
    // ATL's own reply, 200 ms after that, ended it (less however late the timeout fired).
    const QList<qint64> least{200, 200, 400, 250, 200};
    for (int i = 0; i < 5; ++i)
        QVERIFY2(at[i + 1] - at[i] >= least[i] && at[i + 1] - at[i] < least[i] + 150,
                 qPrintable(QStringLiteral("%1: %2").arg(i).arg(at[i + 1] - at[i])));
    QVERIFY(log.of("tellaran.modem")
                .contains("start-up: the modem did not accept AT%C3 - it replied ERROR"));
    QVERIFY(bench.engine.boxes.boxes().isEmpty());

    // As delivered, a command waits two seconds.
    Bench real;
    real.makeUp = [](ScriptedModem& modem) { modem.silent = {"ATX4"}; };
    real.engine.statusWindow();
    real.link->Load();
    const qint64 waited = real.modem->writeTimes[1] - real.modem->writeTimes[0];
    QVERIFY2(waited >= 2000 && waited < 2500, qPrintable(QString::number(waited)));
}

// What waited in the port, or an ERROR before the dial command's echo (the modem echoes, as
// it did at start-up), belongs to an earlier command: no box, no return to the dialer.
void TestModemLink::onlyTheCallsOwnReplyIsItsResult()
{
    Bench bench;
    bench.loadAndOpen();
    bench.engine.dialingWindowVisible = true;
    bench.modem->leaveWaiting("\r\nERROR\r\n");
    bench.link->writeCallCommand("ATD0815\r\n");
    bench.modem->receive("\r\nERROR\r\nATD0815\r");
    QTest::qWait(20);
    QVERIFY(bench.engine.boxes.boxes().isEmpty());
    QCOMPARE(bench.engine.dialingAnswers, 0);
    bench.modem->receive("\r\nERROR\r\n");
    QTRY_COMPARE(bench.engine.boxes.texts(),
                 QStringList{"The modem reported ERROR. The call was not made."});
    QCOMPARE(bench.engine.returnsToDialer, 1);
}

void TestModemLink::theModemIsHeardWhileAFailureBoxIsOpen_data()
{
    QTest::addColumn<bool>("dialing");
    QTest::addColumn<QByteArray>("failure");
    QTest::newRow("dialing, ERROR") << true << QByteArray("ATD0815\r\r\nERROR\r\n");
    QTest::newRow("answering, NO CARRIER") << false << QByteArray("\r\nNO CARRIER\r\n");
}

// Nobody answers the box; the modem rings and connects meanwhile: the call comes up at once,
// its clock starts at CONNECT, and the box closes by itself.
void TestModemLink::theModemIsHeardWhileAFailureBoxIsOpen()
{
    QFETCH(bool, dialing);
    QFETCH(QByteArray, failure);
    Bench bench;
    bench.loadAndOpen();
    bench.engine.dialingWindowVisible = dialing;
    bench.engine.answerWindowVisible = !dialing;
    bench.link->writeCallCommand(dialing ? "ATD0815\r\n" : "ATE1S0=1\r\n");
    QElapsedTimer open; // answered at last after five seconds, if it did not close before
    open.start();
    bench.engine.boxes.holdNextOpen([&open] { return open.elapsed() > 5000; });
    QDateTime connectedAt;
    bool upWhileOpen = false;
    QTimer::singleShot(200, [&] {
        bench.modem->receive("\r\nRING\r\n\r\nCONNECT 56000\r\n");
        connectedAt = QDateTime::currentDateTime();
        upWhileOpen = bench.link->Connected && bench.engine.boxes.openCount() == 1;
    });
    bench.modem->receive(failure);
    QTRY_VERIFY_WITH_TIMEOUT(connectedAt.isValid(), 7000);
    QVERIFY(upWhileOpen);
    QTRY_COMPARE(bench.engine.boxes.openCount(), 0);
    QVERIFY(bench.engine.boxes.boxes().first().closedByOwner);
    QVERIFY(qAbs(bench.engine.statusWindow().t1.msecsTo(connectedAt)) < 100);
    QCOMPARE(bench.engine.returnsToDialer, 0);
    QCOMPARE(bench.modem->writes.last(), QByteArray("ATA"));
}

void TestModemLink::hangUpGoesAsFarAsItMust_data()
{
    QTest::addColumn<bool>("dtrHangsUp");
    QTest::addColumn<bool>("carrierReadable");
    QTest::addColumn<bool>("modemSaidNoCarrier");
    QTest::addColumn<QByteArrayList>("written");
    QTest::newRow("DTR hangs up") << true << true << false << QByteArrayList{};
    QTest::newRow("DTR ignored") << false << true << false << QByteArrayList{"+++", "ATH\r\n"};
    QTest::newRow("no carrier detect")
        << true << false << false << QByteArrayList{"+++", "ATH\r\n"};
    // Carrier detect held on, but the modem said the call ended: it is in command state.
    QTest::newRow("modem said NO CARRIER") << false << true << true << QByteArrayList{"ATH\r\n"};
}

// With the times shortened: carrier detect is waited for where it tells, the escape has
// silence on both sides, and the modem's words meanwhile bring no box and no second end.
void TestModemLink::hangUpGoesAsFarAsItMust()
{
    QFETCH(bool, dtrHangsUp);
    QFETCH(bool, carrierReadable);
    QFETCH(bool, modemSaidNoCarrier);
    QFETCH(QByteArrayList, written);
    Bench bench;
    bench.loadAndOpen();
    const ModemLink::HangUpTimes times{200, 150, 300};
    bench.link->setHangUpTimes(times);
    ScriptedModem& modem = *bench.modem;
    modem.hangsUpOnDtr = dtrHangsUp;
    modem.carrierReadable = carrierReadable;
    bench.link->writeCallCommand("ATD0815\r\n");
    modem.receive("\r\nCONNECT 56000\r\n");
    modem.setCarrier(true);
    if (modemSaidNoCarrier)
        modem.receive("\r\nNO CARRIER\r\n");
    modem.writes.clear();
    modem.writeTimes.clear();
    modem.autoReply = true;

    const qint64 start = modem.clock.elapsed();
    bench.link->HangUp();
    QCOMPARE(modem.dtr.first(), false);
    QCOMPARE(modem.writes, written);
    QVERIFY(!bench.link->MSComm1.PortOpen() && !bench.link->Connected);
    QTest::qWait(20);
    QCOMPARE(bench.engine.boxes.boxes().size(), modemSaidNoCarrier ? 1 : 0);
    QCOMPARE(bench.engine.endProgramCalls, modemSaidNoCarrier ? 1 : 0);
    if (written.isEmpty())
        QVERIFY(modem.clock.elapsed() - start < times.carrierMs);
    if (written.size() == 2) {
        const qint64 quiet = (carrierReadable ? times.carrierMs : 0) + times.guardMs;
        const qint64 escapeAt = modem.writeTimes[0] - start;
        QVERIFY2(escapeAt >= quiet && escapeAt < quiet + 150,
                 qPrintable(QString::number(escapeAt)));
        QVERIFY(modem.writeTimes[1] - modem.writeTimes[0] >= times.guardMs);
    }
}

void TestModemLink::commandModeLines()
{
    Bench bench;
    bench.loadAndOpen();
    // The echo, the empty line before "OK" and the line feed in front of it go quietly.
    bench.modem->receive("ATE1S0=1\r\r\nOK\r\n");
    QVERIFY(bench.modem->writes.isEmpty());
    QVERIFY(bench.engine.boxes.boxes().isEmpty());

    // "RING" answers with "ATA" and no line end, visible answer window or not.
    bench.engine.answerWindowVisible = true;
    bench.modem->receive("\r\nRING\r\n");
    QCOMPARE(bench.modem->writes, QByteArrayList{"ATA"});
    QCOMPARE(bench.engine.answerWindowRings, 1);
    bench.engine.answerWindowVisible = false;
    bench.modem->receive("\r\nRING\r\n");
    QCOMPARE(bench.modem->writes, (QByteArrayList{"ATA", "ATA"}));
    QCOMPARE(bench.engine.answerWindowRings, 1);

    // "<modem>" alone is neither relayed nor taken for anything.
    bench.modem->receive("<modem>\r\nERROR\r\n");
    QVERIFY(bench.engine.boxes.boxes().isEmpty());
    QCOMPARE(bench.link->pendingRelayBytes(), 0);
    QVERIFY(!bench.link->Connected);
}

void TestModemLink::resultWordsShowTheirMessages_data()
{
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<QString>("text");
    // Whether the box shows too when no call is being dialed.
    QTest::addColumn<bool>("alwaysShown");
    const QString noCarrier = QStringLiteral(
        "There is no carrier.  Please make sure that all your phone cables are properly connected");
    const QString busy = QStringLiteral("The number is busy.  Please try again later.");
    const QString noDialTone =
        QStringLiteral("There is no dialtone.  Please check your modem connections.");
    const QString noAnswer =
        QStringLiteral("There was no answer from the remote modem / Tellaran is not running at "
                       "the other end. Please try again later.");
    const auto reported = [](const char* word) {
        return QStringLiteral("The modem reported %1. The call was not made.")
            .arg(QLatin1String(word));
    };
    QTest::newRow("no carrier") << QByteArray("NO CARRIER") << noCarrier << true;
    QTest::newRow("busy") << QByteArray("BUSY") << busy << true;
    QTest::newRow("no dial tone") << QByteArray("NO DIAL TONE") << noDialTone << true;
    QTest::newRow("no answer") << QByteArray("NO ANSWER") << noAnswer << true;
    QTest::newRow("delayed") << QByteArray("DELAYED") << reported("DELAYED") << true;
    // The modem refusing a command is news only when it is the call's own command.
    QTest::newRow("error") << QByteArray("ERROR") << reported("ERROR") << false;
}

void TestModemLink::resultWordsShowTheirMessages()
{
    QFETCH(QByteArray, word);
    QFETCH(QString, text);
    QFETCH(bool, alwaysShown);
    Bench bench;
    bench.loadAndOpen();
    bench.engine.dialingWindowVisible = true;
    bench.link->writeCallCommand("ATD0815\r\n");
    bench.modem->writes.clear();
    bench.modem->receive("ATD0815\r\r\n" + word + "\r\n");
    QTRY_COMPARE(bench.engine.boxes.texts(), QStringList{text});
    QCOMPARE(bench.engine.boxes.boxes().first().buttons, BoxButtons::Ok);
    QCOMPARE(bench.engine.returnsToDialer, 1);
    QCOMPARE(bench.engine.dialingAnswers, 1);
    QVERIFY(!bench.engine.dialingWindowVisible);
    QVERIFY(bench.modem->writes.isEmpty());

    // Without the dialing window nothing else moves.
    bench.modem->receive(word + "\r");
    QTest::qWait(20);
    QCOMPARE(bench.engine.boxes.boxes().size(), alwaysShown ? 2 : 1);
    QCOMPARE(bench.engine.returnsToDialer, 1);
    QVERIFY(bench.engine.answerWindowFailures.isEmpty());
}

void TestModemLink::failedAnswerGoesBackToWaiting()
{
    Bench bench;
    bench.loadAndOpen();
    bench.engine.answerWindowVisible = true;
    bench.modem->receive("\r\nRING\r\nATA\r\nNO CARRIER\r\n");
    QCOMPARE(bench.engine.answerWindowFailures, QStringList{"NO CARRIER"});
    QTRY_COMPARE(bench.engine.boxes.boxes().size(), 1);
    // The "ATA" typed on RING has no echo line of its own: the ERROR after it is its reply.
    bench.modem->receive("\r\nRING\r\nATA\r\nERROR\r\n");
    QCOMPARE(bench.engine.answerWindowFailures, (QStringList{"NO CARRIER", "ERROR"}));
    QTRY_COMPARE(bench.engine.boxes.boxes().size(), 2);
    QCOMPARE(bench.engine.boxes.texts().last(),
             QStringLiteral("The modem reported ERROR. The call was not made."));
    QVERIFY(bench.engine.answerWindowVisible);
    QCOMPARE(bench.engine.returnsToDialer, 0);
    QCOMPARE(bench.engine.endProgramCalls, 0);
}

void TestModemLink::connectPutsTheEngineOnline()
{
    Bench bench;
    bench.loadAndOpen();
    Form2& status = bench.engine.statusWindow();
    status.Timer1.stop();
    bench.engine.dialingWindowVisible = true;
    bench.engine.answerWindowVisible = true;
    bench.modem->receive("ATD0815\r\r\nCONNECT 56000\r\n");
    QVERIFY(bench.link->Connected);
    QVERIFY(status.t1.isValid());
    QVERIFY(status.isVisible());
    QVERIFY(status.Timer1.isActive());
    QVERIFY(!bench.engine.dialingWindowVisible);
    QVERIFY(!bench.engine.answerWindowVisible);
    QVERIFY(!bench.engine.answerWindowLoggedConnected);
    QVERIFY(bench.engine.boxes.boxes().isEmpty());
}

void TestModemLink::carrierBeforeConnectStartsTheClock()
{
    Bench bench;
    bench.loadAndOpen();
    bench.engine.answerWindowVisible = true;
    bench.modem->setCarrier(true);
    QVERIFY(bench.link->Connected);
    QVERIFY(bench.engine.statusWindow().t1.isValid());
    QVERIFY(bench.engine.statusWindow().isVisible());
    QVERIFY(!bench.engine.answerWindowVisible);
    QVERIFY(bench.engine.answerWindowLoggedConnected);
    // The "CONNECT" that follows in connected mode is never cut as a line.
    bench.modem->receive("\r\nCONNECT 56000\r\n");
    QVERIFY(bench.engine.boxes.boxes().isEmpty());
}

void TestModemLink::linkFramesAreRelayed()
{
    Bench bench;
    bench.loadAndOpen();
    const qint64 startUpBytes = bench.engine.counters().bytesreceived;
    Program chat(bench.engine.channelPort(), "CHAT0001");
    QVERIFY(bench.winsockUp());
    QTRY_COMPARE(bench.engine.statusWindow().channelTable().records().size(), 1);
    bench.modem->setCarrier(true);

    // Noise in front of the frame (a late "ATA" from the other side) is cut away, and a CR
    // inside the payload passes.
    bench.modem->receive("ATA<modem><CHAT0001>hel\rlo<CHAT0001><xodem>\r");
    QTRY_COMPARE(chat.received, QByteArray("hel\rlo"));
    // A frame cut across reads.
    bench.modem->receive("<modem><CHAT0001>wor");
    bench.modem->receive("ld<CHAT0001><xodem>\r");
    QTRY_COMPARE(chat.received, QByteArray("hel\rloworld"));
    QCOMPARE(bench.engine.counters().bytesreceived, startUpBytes + 84);

    // A payload is never taken for a modem result: no "ATA", no box.
    chat.received.clear();
    bench.modem->receive("<modem><CHAT0001>RING BUSY NO CARRIER OK<CHAT0001><xodem>\r");
    QTRY_COMPARE(chat.received, QByteArray("RING BUSY NO CARRIER OK"));
    QVERIFY(bench.modem->writes.isEmpty());
    QVERIFY(bench.engine.boxes.boxes().isEmpty());
}

void TestModemLink::damagedFramesAreDroppedAndCounted()
{
    Bench bench;
    bench.loadAndOpen();
    Program chat(bench.engine.channelPort(), "CHAT0001");
    Program other(bench.engine.channelPort(), "CHAT0002");
    QVERIFY(bench.winsockUp());
    QTRY_COMPARE(bench.engine.statusWindow().channelTable().records().size(), 2);
    bench.modem->setCarrier(true);

    LogCapture log;
    QByteArray first = frames::linkFrame("<CHAT0001>one<CHAT0001>");
    first[first.size() - 1] = '\n'; // noise on its CR: it runs on into the next frame
    bench.modem->receive(first + frames::linkFrame("<CHAT0002>two<CHAT0002>"));
    QByteArray third = frames::linkFrame("<CHAT0001>three<CHAT0001>");
    third[20] = 'X';
    bench.modem->receive(third + frames::linkFrame("<CHAT0001>four<CHAT0001>"));
    QTRY_COMPARE(chat.received, QByteArray("four"));
    QTRY_COMPARE(other.received, QByteArray("two"));
    QCOMPARE(bench.link->droppedFrames(), 2);
    // The first drop is logged at once, the next ones once a second at most.
    QCOMPARE(log.of("tellaran.link").size(), 1);
    QTRY_COMPARE(log.of("tellaran.link").size(), 2);
    QVERIFY(log.of("tellaran.link")[1].contains(
        QLatin1String("damaged frame from the modem (48 bytes): the check value does not "
                      "match; 2 damaged frames dropped in this call")));
    QVERIFY(bench.engine.boxes.boxes().isEmpty());
}

void TestModemLink::relayFramesWaitForWinsock()
{
    // The channel server is down: Winsock1's first attempt fails.
    Bench bench;
    Form2& status = bench.engine.statusWindow();
    status.channelServer().shutDown();
    status.Timerunk().setInterval(50);
    bench.link->Load();
    bench.link->MSComm1.setPortOpen(true);
    bench.modem->setCarrier(true);
    bench.modem->receive("<modem><CHAT0001>early<CHAT0001><xodem>\r");
    QVERIFY(bench.link->pendingRelayBytes() > 0);

    // The server comes back; Winsock1 tries again and the frame goes out.
    QVERIFY(status.channelServer().start());
    Program chat(bench.engine.channelPort(), "CHAT0001");
    QTRY_COMPARE_WITH_TIMEOUT(chat.received, QByteArray("early"), 10000);
    QCOMPARE(bench.link->pendingRelayBytes(), 0);
}

void TestModemLink::lineErrorsAreReported()
{
    Bench bench;
    bench.loadAndOpen();
    // From the event loop, once the port's handler is done; a burst shows one of each.
    bench.modem->raiseLineError(SerialPort::comEventRxOver);
    bench.modem->raiseLineError(SerialPort::comEventRxOver);
    bench.modem->raiseLineError(SerialPort::comEventRxParity);
    bench.modem->raiseLineError(SerialPort::comEventRxBufferFull);
    QVERIFY(bench.engine.boxes.boxes().isEmpty());
    QTRY_COMPARE(bench.engine.boxes.texts(),
                 (QStringList{QStringLiteral("Some Data was lost during transfer."),
                              QStringLiteral("Parity Error !")}));
}

void TestModemLink::carrierLossStoresTheTimeAndEnds()
{
    Bench bench;
    bench.loadAndOpen();
    const QString requests = bench.engine.dataPath(QStringLiteral("requests.dat"));
    QVERIFY(QFile::exists(requests));
    bench.modem->setCarrier(true);
    bench.engine.dialerTime = QStringLiteral("00:12:34");

    bench.modem->setCarrier(false);
    QVERIFY(!bench.link->Connected);
    QVERIFY(!bench.engine.statusWindow().isVisible());
    QCOMPARE(bench.engine.boxes.texts(),
             QStringList{QStringLiteral("Remote computer disconnected")});
    QVERIFY(!QFile::exists(requests));
    QCOMPARE(SettingsFile(bench.engine.programDir()).ReadStoredTime(), QByteArray("00:12:34"));
    QCOMPARE(SettingsFile(bench.engine.programDir()).LoadSettings(), DeliveredSettings());
    QCOMPARE(bench.engine.endProgramCalls, 1);
}

void TestModemLink::carrierLossWithoutTableFile()
{
    Bench bench;
    bench.loadAndOpen();
    QFile::remove(bench.engine.dataPath(QStringLiteral("requests.dat")));
    bench.modem->setCarrier(true);
    bench.engine.dialerTime = QStringLiteral("01:00:00");
    bench.modem->setCarrier(false);
    QCOMPARE(SettingsFile(bench.engine.programDir()).ReadStoredTime(), QByteArray("01:00:00"));
    QCOMPARE(bench.engine.endProgramCalls, 1);
}

void TestModemLink::noCarrierWhileConnectedEndsTheCallOnce_data()
{
    QTest::addColumn<QByteArray>("hangUp");
    QTest::addColumn<bool>("carrierFirst");
    // Carrier detect held on: the words alone end the call, in the block of CONNECT itself
    // or between frames.
    QTest::newRow("same block") << QByteArray("\r\nCONNECT 56000\r\n\r\nNO CARRIER\r\n") << false;
    QTest::newRow("after a frame")
        << QByteArray("<modem><CHAT0001>bye<CHAT0001><xodem>\r\r\nNO CARRIER\r\n") << false;
    // Carrier detect falls as well, before or after the words: still one end.
    QTest::newRow("carrier first") << QByteArray("\r\nNO CARRIER\r\n") << true;
    QTest::newRow("carrier after") << QByteArray("\r\nNO CARRIER\r\n") << false;
}

void TestModemLink::noCarrierWhileConnectedEndsTheCallOnce()
{
    QFETCH(QByteArray, hangUp);
    QFETCH(bool, carrierFirst);
    Bench bench;
    bench.loadAndOpen();
    if (!hangUp.contains("CONNECT"))
        bench.modem->receive("\r\nCONNECT 56000\r\n");
    bench.engine.dialerTime = QStringLiteral("00:03:07");
    if (carrierFirst)
        bench.modem->setCarrier(false);
    bench.modem->receive(hangUp);
    bench.modem->setCarrier(false);

    QVERIFY(!bench.link->Connected);
    QCOMPARE(bench.engine.boxes.texts(),
             QStringList{QStringLiteral("Remote computer disconnected")});
    QCOMPARE(SettingsFile(bench.engine.programDir()).ReadStoredTime(), QByteArray("00:03:07"));
    QCOMPARE(bench.engine.endProgramCalls, 1);
}

void TestModemLink::noCarrierEndingAStalledFrame()
{
    Bench bench;
    bench.loadAndOpen();
    bench.link->setStalledFrameDelay(1000);
    bench.modem->receive("\r\nCONNECT 56000\r\n");

    // A payload with the words in it goes on: it was the payload.
    bench.modem->receive("<modem><CHAT0001>said\r\nNO CARRIER\r\n");
    QTest::qWait(500);
    bench.modem->receive("<CHAT0001><xodem>\r");
    QTest::qWait(700);
    QCOMPARE(bench.engine.endProgramCalls, 0);

    // The call drops in the middle of a frame: once the frame has stayed silent long enough.
    bench.modem->receive("<modem><CHAT0001>half a pay\r\nNO CARRIER\r\n");
    QTest::qWait(500);
    QCOMPARE(bench.engine.endProgramCalls, 0);
    QTRY_COMPARE_WITH_TIMEOUT(bench.engine.endProgramCalls, 1, 5000);
    QCOMPARE(bench.engine.boxes.texts(),
             QStringList{QStringLiteral("Remote computer disconnected")});
}

// The troubleshooting log: the dialogue in the order it happened, frames by DataID and size
// alone, and nothing while the category is off.
void TestModemLink::modemDialogueIsLogged()
{
    {
        LogCapture log;
        QLoggingCategory::setFilterRules(QStringLiteral("tellaran.modem.debug=true"));
        Bench bench;
        bench.loadAndOpen();
        bench.link->writeCallCommand("ATE1S0=1\r\n");
        bench.modem->receive("ATE1S0=1\r\r\nOK\r\n\r\nRING\r\n");
        bench.modem->receive("\r\nCONNECT 56000\r\n");
        QVERIFY(bench.link->Connected);
        QStringList startUp;
        for (const char* command : {"ATX4", "AT%C3", "AT+MS=56,1", "ATL 2", "ATM1", "ATT"})
            startUp << QStringLiteral("to the modem: %1").arg(QLatin1String(command))
                    << QStringLiteral("from the modem: %1").arg(QLatin1String(command))
                    << QStringLiteral("from the modem: OK");
        startUp << "to the modem: ATE1S0=1"
                << "from the modem: ATE1S0=1"
                << "from the modem: OK"
                << "from the modem: RING"
                << "to the modem: ATA"
                << "from the modem: CONNECT 56000";
        // The dialogue; the port's openings have their own lines, tested with the port.
        QCOMPARE(
            log.of("tellaran.modem").filter(QRegularExpression(QStringLiteral("^(to|from) the "))),
            startUp);
        QVERIFY(log.of("tellaran.link").isEmpty());
        const qsizetype modemLines = log.of("tellaran.modem").size();

        QLoggingCategory::setFilterRules(QStringLiteral("tellaran.*.debug=true"));
        bench.modem->receive("<modem><chatclie>RING and secret words<chatclie><xodem>\r");
        QCOMPARE(log.of("tellaran.link"),
                 QStringList{"frame from the modem: DataID chatclie with 21 bytes"});
        // A payload is never shown, even where it looks like a result.
        QCOMPARE(log.of("tellaran.modem").size(), modemLines);
    }
    {
        LogCapture log;
        Bench bench;
        bench.loadAndOpen();
        bench.modem->receive("OK\r\n\r\nCONNECT 56000\r\n");
        QVERIFY(bench.link->Connected);
        QCOMPARE(log.count(), 0);
    }
}

QTEST_MAIN(TestModemLink)
#include "test_modemlink.moc"
