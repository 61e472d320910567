// Virtual modems calling each other over real sockets in a temporary exchange folder.
#include "platform/virtualmodem.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tellaran;

namespace {

constexpr int waitMs = 5000;

// One modem as the computer sees it: everything it sends, and its carrier changes.
class Terminal
{
public:
    Terminal(const QString& exchangeDir, const QString& line, int lineRate = 0,
             const std::function<void(VirtualModemOptions&)>& makeUp = {})
    {
        VirtualModemOptions options;
        options.line = line;
        options.exchangeDir = exchangeDir;
        options.lineRate = lineRate;
        options.ringIntervalMs = 100;
        options.trainingDelayMs = 50;
        if (makeUp)
            makeUp(options);
        modem = createVirtualModem(options);
        QObject::connect(modem.get(), &SerialBackend::readyRead,
                         [this] { received += modem->readAll(); });
        QObject::connect(modem.get(), &SerialBackend::carrierChanged,
                         [this](bool on) { carrier.append(on); });
    }

    bool open(QString* error = nullptr)
    {
        SerialLineSettings settings;
        settings.dtrEnable = true;
        return modem->open(settings, error);
    }
    void type(const QByteArray& bytes) { modem->write(bytes); }
    bool waitFor(const QByteArray& text, int timeout = waitMs)
    {
        return QTest::qWaitFor([&] { return received.contains(text); }, timeout);
    }
    // What arrived after the last CONNECT.
    QByteArray data() const
    {
        const qsizetype at = received.lastIndexOf("CONNECT");
        return at < 0 ? QByteArray() : received.mid(received.indexOf("\r\n", at) + 2);
    }

    std::unique_ptr<SerialBackend> modem;
    QByteArray received;
    QList<bool> carrier;
};

QByteArray allByteValues(int repeat)
{
    QByteArray bytes;
    for (int r = 0; r < repeat; ++r)
        for (int b = 0; b < 256; ++b)
            bytes += static_cast<char>(b);
    return bytes;
}

// Places a call from `caller` to `callee` (which answers on the first ring) and waits until
// both are online.
bool connectCall(Terminal& caller, Terminal& callee, const QByteArray& number)
{
    callee.type("ATE1S0=1\r\n");
    caller.type("ATD" + number + "\r\n");
    return caller.waitFor("CONNECT") && callee.waitFor("CONNECT") &&
           QTest::qWaitFor([&] { return !caller.carrier.isEmpty() && !callee.carrier.isEmpty(); },
                           waitMs);
}

} // namespace

class TestVirtualModem : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(m_exchange.isValid()); }
    void commandDialogue();
    void callThroughExchangeCarriesEveryByte();
    void callThroughTcpAndHangUpByClose();
    void handlersMayRunNestedLoopsOrDeleteTheModem();
    void failedCalls();
    void answerWithAtaAfterRinging();
    void answerTypedOnRingNeverReachesTheLine_data();
    void answerTypedOnRingNeverReachesTheLine();
    void pacingFollowsTheLineRate();
    void escapeKeepsTheCall();
    void lineIsHeldWhileOpen();
    void junkOnTheLineAndFromTheComputer();
    void testLinesAnswerAsSet();
    void callerIdBetweenTheFirstTwoRings();
    void carrierDetectHeldOn();
    void lateRepliesInTurn();

private:
    QString dir() const { return m_exchange.path(); }
    QTemporaryDir m_exchange;
};

void TestVirtualModem::commandDialogue()
{
    Terminal t(dir(), QStringLiteral("dialogue"));
    QVERIFY(t.open());
    t.type("ATX4\r\n");
    t.type("AT+MS=56,1\r\n");
    t.type("ATL 2\r\n");
    t.type("ATQUIT\r\n");
    QVERIFY(t.waitFor("ERROR"));
    QCOMPARE(t.received, QByteArray("ATX4\r\r\nOK\r\nAT+MS=56,1\r\r\nOK\r\nATL 2\r\r\nOK\r\n"
                                    "ATQUIT\r\r\nERROR\r\n"));

    // Echo off and a register: kept through closing and reopening, as on a powered modem.
    t.received.clear();
    t.type("ATE0S7=20\r\n");
    QVERIFY(t.waitFor("OK"));
    t.modem->close();
    QVERIFY(t.open());
    t.received.clear();
    t.type("ATS7?\r\n");
    QVERIFY(t.waitFor("OK"));
    QCOMPARE(t.received, QByteArray("\r\n020\r\n\r\nOK\r\n"));

    // Answering with no call, or going online with none, finds no carrier.
    t.received.clear();
    t.type("ATA\r");
    QVERIFY(t.waitFor("NO CARRIER"));
    QVERIFY(t.carrier.isEmpty());

    // What was not read before closing is gone, and nothing arrives after close().
    t.type("ATI\r");
    t.modem->close();
    t.received.clear();
    QTest::qWait(50);
    QVERIFY(t.received.isEmpty());
}

void TestVirtualModem::callThroughExchangeCarriesEveryByte()
{
    Terminal a(dir(), QStringLiteral("100"));
    Terminal b(dir(), QStringLiteral("200"));
    QVERIFY(a.open());
    QVERIFY(b.open());
    QVERIFY(connectCall(a, b, "T 200"));
    QVERIFY(b.received.contains("RING"));
    QCOMPARE(a.carrier, QList<bool>{true});
    QCOMPARE(b.carrier, QList<bool>{true});
    QVERIFY(a.modem->carrierDetect());

    // 8-bit clean both ways at once, CR, LF and "+++" included.
    const QByteArray payload = allByteValues(16) + "+++" + allByteValues(4);
    a.type(payload);
    b.type(payload);
    QVERIFY(QTest::qWaitFor([&] { return a.data().size() >= payload.size(); }, waitMs));
    QVERIFY(QTest::qWaitFor([&] { return b.data().size() >= payload.size(); }, waitMs));
    QCOMPARE(a.data(), payload);
    QCOMPARE(b.data(), payload);

    // Dropping DTR hangs up: carrier lost on both sides, NO CARRIER at the other end.
    a.modem->setDtr(false);
    QVERIFY(b.waitFor("NO CARRIER"));
    QCOMPARE(b.carrier, (QList<bool>{true, false}));
    QVERIFY(QTest::qWaitFor([&] { return a.carrier.size() == 2; }, waitMs));
    QCOMPARE(a.carrier, (QList<bool>{true, false}));
    QVERIFY(!b.modem->carrierDetect());

    // Both are back in command state and can call again.
    a.modem->setDtr(true);
    a.received.clear();
    a.type("ATD200\r");
    QVERIFY(a.waitFor("CONNECT"));
}

void TestVirtualModem::callThroughTcpAndHangUpByClose()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QByteArray line = "127.0.0.1:" + QByteArray::number(probe.serverPort());
    probe.close();

    Terminal a(dir(), QString());
    Terminal b(dir(), QString::fromLatin1(line));
    QVERIFY(a.open());
    QVERIFY(b.open());
    QVERIFY(connectCall(a, b, line));
    a.type("over tcp\r\n");
    QVERIFY(QTest::qWaitFor([&] { return b.data() == "over tcp\r\n"; }, waitMs));

    b.modem->close();
    QVERIFY(a.waitFor("NO CARRIER"));
    QCOMPARE(a.carrier, (QList<bool>{true, false}));
    QCOMPARE(b.carrier, QList<bool>{true});
    QVERIFY(!b.modem->carrierDetect());
}

void TestVirtualModem::handlersMayRunNestedLoopsOrDeleteTheModem()
{
    // A box opened on CONNECT, and the call ends while it is open: the carrier news still
    // comes in the order it happened, so the last word is that the carrier is down.
    Terminal a(dir(), QStringLiteral("500"));
    Terminal b(dir(), QStringLiteral("501"));
    QVERIFY(a.open());
    QVERIFY(b.open());
    bool boxShown = false;
    bool endSeenInBox = false;
    QObject::connect(b.modem.get(), &SerialBackend::readyRead, [&] {
        if (boxShown || !b.received.contains("CONNECT"))
            return;
        boxShown = true;
        a.modem->close();
        endSeenInBox = b.waitFor("NO CARRIER");
    });
    b.type("ATS0=1\r");
    a.type("ATD501\r");
    QVERIFY(QTest::qWaitFor([&] { return boxShown && b.carrier.size() == 2; }, waitMs));
    QVERIFY(endSeenInBox);
    QCOMPARE(b.carrier, (QList<bool>{true, false}));
    QVERIFY(!b.modem->carrierDetect());

    // A handler that deletes the modem while more news waits behind the one it handles.
    Terminal c(dir(), QStringLiteral("502"));
    QVERIFY(c.open());
    QObject::connect(c.modem.get(), &SerialBackend::readyRead, [&] { c.modem.reset(); });
    QSignalSpy drained(c.modem.get(), &SerialBackend::outputDrained);
    c.type("AT\r");
    QVERIFY(QTest::qWaitFor([&] { return !c.modem; }, waitMs));
    QTest::qWait(50);
    QVERIFY(drained.isEmpty());
    QVERIFY(c.received.contains("AT\r"));
}

void TestVirtualModem::failedCalls()
{
    Terminal a(dir(), QStringLiteral("300"));
    Terminal b(dir(), QStringLiteral("301"));
    Terminal c(dir(), QStringLiteral("302"));
    QVERIFY(a.open());
    QVERIFY(b.open());
    QVERIFY(c.open());

    // Nobody on that line.
    c.type("ATD399\r");
    QVERIFY(c.waitFor("NO ANSWER"));

    // A line in a call is busy.
    QVERIFY(connectCall(a, b, "301"));
    c.received.clear();
    c.type("ATD301\r");
    QVERIFY(c.waitFor("BUSY"));
    QCOMPARE(b.received.count("RING"), 1);

    // A line that rings but is not answered within S7 seconds.
    Terminal d(dir(), QStringLiteral("303"));
    QVERIFY(d.open());
    c.received.clear();
    c.type("ATS7=1D303\r");
    QVERIFY(d.waitFor("RING"));
    QVERIFY(c.waitFor("NO ANSWER", 3000));
    // Its ringing stops with the caller gone, and it can take the next call.
    d.received.clear();
    QTest::qWait(250);
    QVERIFY(!d.received.contains("RING"));
    QVERIFY(connectCall(c, d, "303"));

    // No usable exchange folder: no dial tone.
    QFile plainFile(dir() + QStringLiteral("/not-a-folder"));
    QVERIFY(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();
    Terminal e(plainFile.fileName(), QString());
    QVERIFY(e.open());
    e.type("ATD300\r");
    QVERIFY(e.waitFor("NO DIAL TONE"));
}

void TestVirtualModem::answerWithAtaAfterRinging()
{
    Terminal a(dir(), QStringLiteral("400"));
    Terminal b(dir(), QStringLiteral("401"));
    QVERIFY(a.open());
    QVERIFY(b.open());
    a.type("ATD401\r\n");
    // S0=0: it keeps ringing until told to answer.
    QVERIFY(QTest::qWaitFor([&] { return b.received.count("RING") >= 3; }, waitMs));
    QVERIFY(!b.received.contains("CONNECT"));
    b.type("ATA\r");
    QVERIFY(a.waitFor("CONNECT"));
    QVERIFY(b.waitFor("CONNECT"));
    QVERIFY(QTest::qWaitFor([&] { return b.carrier == QList<bool>{true}; }, waitMs));
}

void TestVirtualModem::answerTypedOnRingNeverReachesTheLine_data()
{
    QTest::addColumn<QByteArray>("answer");
    // The engine types "ATA" with no line end; a terminal would end it.
    QTest::newRow("no line end") << QByteArray("ATA");
    QTest::newRow("line end") << QByteArray("ATA\r\n");
}

void TestVirtualModem::answerTypedOnRingNeverReachesTheLine()
{
    QFETCH(QByteArray, answer);
    Terminal a(dir(), QStringLiteral("500"));
    Terminal b(dir(), QStringLiteral("501"));
    QVERIFY(a.open());
    QVERIFY(b.open());
    // On every RING the computer answers, though S0=1 has the modem answer by itself.
    QObject::connect(b.modem.get(), &SerialBackend::readyRead, [&b, answer] {
        if (b.received.endsWith("RING\r\n"))
            b.type(answer);
    });
    QVERIFY(connectCall(a, b, "501"));
    QVERIFY(b.received.contains("RING\r\nATA"));
    QVERIFY(!b.received.contains("NO CARRIER"));
    b.type("y");
    a.type("x");
    QVERIFY(QTest::qWaitFor([&] { return a.data() == "y" && b.data() == "x"; }, waitMs));
}

void TestVirtualModem::pacingFollowsTheLineRate()
{
    Terminal a(dir(), QStringLiteral("600"), 56000);
    Terminal b(dir(), QStringLiteral("601"));
    QVERIFY(a.open());
    QVERIFY(b.open());
    QVERIFY(connectCall(a, b, "601"));
    QVERIFY(a.received.contains("CONNECT 56000"));

    // As the engine drains its queue: a piece, then wait until it is all on the line.
    // 5600 bytes at 5600 bytes/s take one second.
    QSignalSpy drained(a.modem.get(), &SerialBackend::outputDrained);
    const QByteArray payload = allByteValues(22).left(5600);
    QElapsedTimer clock;
    clock.start();
    for (qsizetype at = 0; at < payload.size(); at += 1024) {
        a.type(payload.mid(at, 1024));
        QVERIFY(a.modem->outputPending() > 0);
        drained.clear();
        QVERIFY(drained.wait(waitMs));
        QCOMPARE(a.modem->outputPending(), 0);
    }
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 900 && elapsed <= 1100, qPrintable(QString::number(elapsed)));
    QVERIFY(QTest::qWaitFor([&] { return b.data().size() >= payload.size(); }, waitMs));
    QCOMPARE(b.data(), payload);
}

void TestVirtualModem::escapeKeepsTheCall()
{
    Terminal a(dir(), QStringLiteral("700"));
    Terminal b(dir(), QStringLiteral("701"));
    QVERIFY(a.open());
    QVERIFY(b.open());
    a.type("ATS12=5\r"); // guard time 100 ms
    QVERIFY(connectCall(a, b, "701"));

    a.type("a+++b");
    QVERIFY(QTest::qWaitFor([&] { return b.data() == "a+++b"; }, waitMs));

    // Silence, "+++", silence: command state with the call kept.
    const int guardMs = 100;
    QTest::qWait(guardMs + 50);
    a.received.clear();
    a.type("+++");
    QVERIFY(a.waitFor("OK"));
    QVERIFY(a.modem->carrierDetect());
    a.type("ATO\r");
    QVERIFY(a.waitFor("CONNECT"));
    a.type("c");
    QVERIFY(QTest::qWaitFor([&] { return b.data() == "a+++bc"; }, waitMs));

    QTest::qWait(guardMs + 50);
    a.received.clear();
    a.type("+++");
    QVERIFY(a.waitFor("OK"));
    a.received.clear();
    a.type("ATH\r");
    QVERIFY(a.waitFor("OK"));
    QVERIFY(b.waitFor("NO CARRIER"));
    QVERIFY(QTest::qWaitFor([&] { return a.carrier == QList<bool>({true, false}); }, waitMs));
    QCOMPARE(b.data(), QByteArray("a+++bc\r\nNO CARRIER\r\n"));
}

void TestVirtualModem::lineIsHeldWhileOpen()
{
    Terminal first(dir(), QStringLiteral("800"));
    Terminal second(dir(), QStringLiteral("800"));
    QVERIFY(first.open());
    QString error;
    QVERIFY(!second.open(&error));
    QVERIFY2(error.contains(QStringLiteral("already held")), qPrintable(error));
    first.modem->close();
    QVERIFY(second.open());
    second.modem->close();

    // A socket file left behind by a program that ended abruptly is taken over.
    const QByteArray path = QFile::encodeName(dir() + QStringLiteral("/801"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    Terminal stale(dir(), QStringLiteral("801"));
    QVERIFY(stale.open(&error));

    // A file of another kind is never removed.
    QFile other(dir() + QStringLiteral("/802"));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.close();
    Terminal blocked(dir(), QStringLiteral("802"));
    QVERIFY(!blocked.open());
    QVERIFY(other.exists());

    Terminal bad(dir(), QStringLiteral("../escape"));
    QVERIFY(!bad.open(&error));
}

void TestVirtualModem::junkOnTheLineAndFromTheComputer()
{
    Terminal t(dir(), QStringLiteral("900"));
    QVERIFY(t.open());

    // Something that is no modem connects and talks nonsense: no ring, connection sent away.
    QLocalSocket intruder;
    intruder.connectToServer(dir() + QStringLiteral("/900"));
    QVERIFY(intruder.waitForConnected(waitMs));
    intruder.write(allByteValues(8));
    QVERIFY(QTest::qWaitFor([&] { return intruder.state() == QLocalSocket::UnconnectedState; },
                            waitMs));
    QVERIFY(!t.received.contains("RING"));

    // Every byte value typed at the modem: no crash, and it still understands AT.
    t.type(allByteValues(64));
    t.received.clear();
    t.type("\rAT\r");
    QVERIFY(t.waitFor("OK"));
}

void TestVirtualModem::testLinesAnswerAsSet()
{
    Terminal t(dir(), QStringLiteral("1000"));
    QVERIFY(t.open());
    const QList<std::pair<QByteArray, QByteArray>> lines = {
        {"TEST-DELAYED", "DELAYED"}, {"TEST-BLACKLISTED", "BLACKLISTED"},
        {"TEST-VOICE", "VOICE"},     {"TEST-NODIALTONE", "NO DIALTONE"},
        {"TEST-ERROR", "ERROR"},     {"test-busy", "BUSY"},
    };
    for (const auto& [number, result] : lines) {
        t.received.clear();
        t.type("ATD" + number + "\r");
        QVERIFY2(t.waitFor(result + "\r\n"), number.constData());
        QCOMPARE(t.received, "ATD" + number + "\r\r\n" + result + "\r\n");
    }

    // A silent line: nothing, until a command abandons the call or DTR drops.
    t.received.clear();
    t.type("ATDTEST-SILENT\r");
    QTest::qWait(300);
    QCOMPARE(t.received, QByteArray("ATDTEST-SILENT\r"));
    t.type("AT\r");
    QVERIFY(t.waitFor("NO CARRIER"));
    t.received.clear();
    t.type("ATDTEST-SILENT\r");
    t.modem->setDtr(false);
    QVERIFY(t.waitFor("NO CARRIER"));
    t.modem->setDtr(true);

    // Ringing progress on every ring, then NO ANSWER when S7 runs out.
    t.received.clear();
    t.type("ATS7=1DTEST-RINGING\r");
    QVERIFY(t.waitFor("NO ANSWER", 3000));
    QVERIFY(t.received.count("\r\nRINGING\r\n") >= 3);
    QVERIFY(t.received.endsWith("RINGING\r\n\r\nNO ANSWER\r\n"));
}

void TestVirtualModem::callerIdBetweenTheFirstTwoRings()
{
    Terminal a(dir(), QStringLiteral("1100"));
    Terminal b(dir(), QStringLiteral("1101"));
    QVERIFY(a.open());
    QVERIFY(b.open());
    a.type("AT+VNAME=\"CONNECTICUT GAS\"\r");
    b.type("ATS0=2+VCID=1\r");
    QVERIFY(b.waitFor("OK"));
    b.received.clear();
    a.type("ATD1101\r");
    QVERIFY(b.waitFor("\r\nCONNECT\r\n"));
    const QRegularExpression callerId(
        QStringLiteral("^\r\nRING\r\n\r\nDATE = \\d{4}\r\nTIME = \\d{4}\r\nNMBR = 1100\r\n"
                       "NAME = CONNECTICUT GAS\r\n\r\nRING\r\n"));
    QVERIFY2(callerId.match(QString::fromLatin1(b.received)).hasMatch(), b.received.constData());
    QCOMPARE(b.received.count("NAME"), 1);
    // Nothing of the set-up reaches the users.
    QVERIFY(QTest::qWaitFor([&] { return !a.carrier.isEmpty() && !b.carrier.isEmpty(); }, waitMs));
    a.type("x");
    b.type("y");
    QVERIFY(QTest::qWaitFor([&] { return a.data() == "y" && b.data() == "x"; }, waitMs));

    // Answering on the first ring, the modem never sees it.
    Terminal c(dir(), QStringLiteral("1102"));
    QVERIFY(c.open());
    c.type("AT+VCID=1\r");
    a.modem->setDtr(false);
    a.modem->setDtr(true);
    a.received.clear();
    QVERIFY(connectCall(a, c, "1102"));
    QVERIFY(c.received.contains("RING"));
    QVERIFY(!c.received.contains("NAME"));
}

void TestVirtualModem::carrierDetectHeldOn()
{
    Terminal a(dir(), QStringLiteral("1300"));
    Terminal b(dir(), QStringLiteral("1301"));
    QVERIFY(a.open());
    QVERIFY(b.open());
    // &C0 raises carrier detect at once, and it stays up through a whole call.
    a.type("AT&C0\r");
    QVERIFY(QTest::qWaitFor([&] { return a.carrier == QList<bool>{true}; }, waitMs));
    QVERIFY(a.modem->carrierDetect());
    QVERIFY(connectCall(b, a, "1300"));
    b.modem->close();
    QVERIFY(a.waitFor("NO CARRIER"));
    QTest::qWait(50);
    QCOMPARE(a.carrier, QList<bool>{true});
    QVERIFY(a.modem->carrierDetect());
    // Reopened, it still holds; &C1 lets it follow the (absent) carrier again.
    a.modem->close();
    QVERIFY(!a.modem->carrierDetect());
    QVERIFY(a.open());
    QVERIFY(a.modem->carrierDetect());
    a.type("AT&C1\r");
    QVERIFY(QTest::qWaitFor([&] { return a.carrier == QList<bool>({true, false}); }, waitMs));
    QVERIFY(!a.modem->carrierDetect());
}

// A modem of another make, replying late: the echo at once, the reply after the delay, and
// the next command's echo behind it, as a modem handles its commands in turn.
void TestVirtualModem::lateRepliesInTurn()
{
    Terminal a(dir(), QStringLiteral("800"), 0, [](VirtualModemOptions& options) {
        options.replyDelayMs = 300;
        options.rejectedCommands = {"AT%C3"};
    });
    QVERIFY(a.open());
    QElapsedTimer clock;
    clock.start();
    a.type("AT%C3\r\nATX4\r\n");
    QVERIFY(a.waitFor("AT%C3\r"));
    QVERIFY(a.waitFor("ERROR"));
    QVERIFY2(clock.elapsed() >= 295, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(a.waitFor("OK"));
    QCOMPARE(a.received, QByteArray("AT%C3\r\r\nERROR\r\nATX4\r\r\nOK\r\n"));
}

QTEST_GUILESS_MAIN(TestVirtualModem)
#include "test_virtualmodem.moc"
