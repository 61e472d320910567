// The modem window's start-up and receive path, with a scripted modem behind the port and a
// real channel server in front of Winsock1.

#include "engine/channels/form2.h"
#include "engine/link/frames.h"
#include "engine/link/modemlink.h"
#include "engine/settings/settingsfile.h"
#include "platform/portmap.h"
#include "tests/support/fakeengine.h"

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
// the test deliver bytes and carrier changes.
class ScriptedModem : public SerialBackend
{
public:
    bool open(const SerialLineSettings& settings, QString*) override
    {
        lastSettings = settings;
        ++opens;
        return isOpen_ = true;
    }
    void close() override { isOpen_ = false; }
    bool isOpen() const override { return isOpen_; }
    void write(const QByteArray& bytes) override { writes.append(bytes); }
    QByteArray readAll() override { return std::exchange(incoming_, QByteArray()); }
    qint64 bytesAvailable() const override { return incoming_.size(); }
    qint64 outputPending() const override { return 0; }
    bool carrierDetect() const override { return carrier_; }
    void setDtr(bool) override {}
    void setRts(bool) override {}

    void receive(const QByteArray& bytes)
    {
        incoming_ += bytes;
        Q_EMIT readyRead();
    }
    void setCarrier(bool on)
    {
        carrier_ = on;
        Q_EMIT carrierChanged(on);
    }
    void raiseLineError(int code) { Q_EMIT lineError(code); }

    QByteArrayList writes;
    SerialLineSettings lastSettings;
    int opens = 0;

private:
    bool isOpen_ = false;
    bool carrier_ = false;
    QByteArray incoming_;
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
            return backend;
        };
        link = std::make_unique<ModemLink>(engine, environment);
        link->setReconnectDelay(20);
    }
    // The start-up, then the port opened as the answer or dial command opens it.
    void loadAndOpen()
    {
        engine.statusWindow();
        link->Load();
        link->MSComm1.setPortOpen(true);
        modem->writes.clear();
    }
    bool winsockUp()
    {
        return QTest::qWaitFor([this] { return link->Winsock1.State() == Socket::Connected; },
                               5000);
    }

    FakeEngine engine;
    ScriptedModem* modem = nullptr;
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
    QCOMPARE(bench.modem->opens, expected.size());
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
    // The modem refusing a command is news only while a call waits on it.
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
    bench.modem->receive("ATD0815\r\r\n" + word + "\r\n");
    QCOMPARE(bench.engine.boxes.texts(), QStringList{text});
    QCOMPARE(bench.engine.boxes.boxes().first().buttons, BoxButtons::Ok);
    QCOMPARE(bench.engine.returnsToDialer, 1);
    QCOMPARE(bench.engine.dialingAnswers, 1);
    QVERIFY(!bench.engine.dialingWindowVisible);
    QVERIFY(bench.modem->writes.isEmpty());

    // Without the dialing window nothing else moves.
    bench.modem->receive(word + "\r");
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
    QCOMPARE(bench.engine.boxes.boxes().size(), 1);
    bench.modem->receive("\r\nRING\r\nATA\r\nERROR\r\n");
    QCOMPARE(bench.engine.answerWindowFailures, (QStringList{"NO CARRIER", "ERROR"}));
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
    QCOMPARE(bench.engine.counters().bytesreceived, qint64(84));

    // A payload is never taken for a modem result: no "ATA", no box.
    chat.received.clear();
    bench.modem->receive("<modem><CHAT0001>RING BUSY NO CARRIER OK<CHAT0001><xodem>\r");
    QTRY_COMPARE(chat.received, QByteArray("RING BUSY NO CARRIER OK"));
    QVERIFY(bench.modem->writes.isEmpty());
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
    bench.modem->raiseLineError(SerialPort::comEventRxOver);
    bench.modem->raiseLineError(SerialPort::comEventRxParity);
    bench.modem->raiseLineError(SerialPort::comEventRxBufferFull);
    QCOMPARE(bench.engine.boxes.texts(),
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
        bench.modem->receive("ATE1S0=1\r\r\nOK\r\n\r\nRING\r\n");
        bench.modem->receive("\r\nCONNECT 56000\r\n");
        QVERIFY(bench.link->Connected);
        // The dialogue; the port's openings have their own lines, tested with the port.
        QCOMPARE(
            log.of("tellaran.modem").filter(QRegularExpression(QStringLiteral("^(to|from) the "))),
            (QStringList{"to the modem: ATX4", "to the modem: AT%C3", "to the modem: AT+MS=56,1",
                         "to the modem: ATL 2", "to the modem: ATM1", "to the modem: ATT",
                         "from the modem: ATE1S0=1", "from the modem: OK", "from the modem: RING",
                         "to the modem: ATA", "from the modem: CONNECT 56000"}));
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
