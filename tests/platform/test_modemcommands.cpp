// The virtual modem's socket-free logic: the command interpreter, the escape detector, the
// pacer and the line addresses.
#include "platform/modemcommandinterpreter.h"
#include "platform/modemescapedetector.h"
#include "platform/modemline.h"
#include "platform/modempacer.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace tellaran;

namespace {

// Types `bytes` and collects the echo and every finished line.
struct Typed
{
    QByteArray echo;
    QList<QByteArray> lines;
};

Typed typeAll(ModemCommandInterpreter& modem, QByteArray bytes)
{
    Typed typed;
    QByteArrayView rest(bytes);
    while (!rest.isEmpty()) {
        std::optional<QByteArray> line;
        rest = rest.sliced(modem.type(rest, typed.echo, line));
        if (line)
            typed.lines.append(*line);
    }
    return typed;
}

} // namespace

class TestModemCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void typingLinesAndEcho();
    void settingsCommands();
    void settingsCommands_data();
    void registersAndReset();
    void callCommands();
    void resultFraming();
    void resultFormsAndCarrierDetect();
    void callerIdSettingsAndText();
    void commandsSomeModemsRefuseAndDtrModes();
    void testLinesAndCallerLine();
    void escapeNeedsGuardTimes();
    void pacerKeepsTheRateExactly();
    void lineAddresses();
    void exchangeFolder();
};

void TestModemCommands::typingLinesAndEcho()
{
    ModemCommandInterpreter modem;
    // The engine ends commands with CR LF: the LF is no part of the next line.
    Typed typed = typeAll(modem, "ATX4\r\nat%c3\r\n");
    QCOMPARE(typed.lines, (QList<QByteArray>{"ATX4", "at%c3"}));
    QCOMPARE(typed.echo, QByteArray("ATX4\rat%c3\r"));

    // Stray data (a link frame written before any call) is neither a command nor echoed.
    typed = typeAll(modem, "<modem><CHAT0001>DATA<CHAT0001><xodem>\rAT\r");
    QCOMPARE(typed.lines, QList<QByteArray>{"AT"});
    QCOMPARE(typed.echo, QByteArray("AT\r"));

    // Without a line end the bytes wait in the buffer; going online clears them.
    typed = typeAll(modem, "ATA");
    QVERIFY(typed.lines.isEmpty());
    QCOMPARE(modem.commandBuffer(), QByteArray("ATA"));
    modem.clearCommandBuffer();
    QVERIFY(typeAll(modem, "\r").lines.isEmpty());

    // Backspace edits the line.
    QCOMPARE(typeAll(modem, "ATX5\b4\r").lines, QList<QByteArray>{"ATX4"});

    // Echo off: nothing comes back, lines still work.
    QVERIFY(!modem.execute("ATE0").error);
    typed = typeAll(modem, "ATS0=1\r");
    QCOMPARE(typed.lines, QList<QByteArray>{"ATS0=1"});
    QVERIFY(typed.echo.isEmpty());

    // An endless line is cut and answered with ERROR, not kept growing.
    typed = typeAll(modem, "AT" + QByteArray(100000, 'X') + "\r");
    QCOMPARE(typed.lines.size(), 1);
    QVERIFY(typed.lines[0].size() <= ModemCommandInterpreter::maxLineLength + 1);
    QVERIFY(modem.execute(typed.lines[0]).error);
}

void TestModemCommands::settingsCommands_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("error");
    // What the engine sends at start-up, answering and dialing.
    for (const char* line : {"ATX4", "AT%C3", "AT+MS=56,1", "ATL 2", "ATL 0", "ATM0", "ATM1",
                             "ATM2", "ATP", "ATT", "ATE1S0=1", "AT", "at e0 e1", "ATI", "ATH"})
        QTest::newRow(line) << QByteArray(line) << false;
    for (const char* line : {"ATE2", "ATX9", "ATL4", "ATS0=256", "ATS300=1", "ATQ", "AT&F",
                             "AT+XY=1", "ATS0", "AT%D", "AT+MS", "XYZ"})
        QTest::newRow(line) << QByteArray(line) << true;
}

void TestModemCommands::settingsCommands()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, error);
    ModemCommandInterpreter modem;
    const ModemCommandOutcome outcome = modem.execute(line);
    QCOMPARE(outcome.error, error);
    QCOMPARE(outcome.call, ModemCommandOutcome::Call::None);
}

void TestModemCommands::registersAndReset()
{
    ModemCommandInterpreter modem;
    QCOMPARE(modem.sRegister(ModemCommandInterpreter::guardTime), 50);
    QVERIFY(!modem.execute("ATE0S0=1S7=5").error);
    QCOMPARE(modem.sRegister(0), 1);
    QVERIFY(!modem.echo());

    ModemCommandOutcome outcome = modem.execute("ATS7?S0?+MS?");
    QVERIFY(!outcome.error);
    QCOMPARE(outcome.information, QByteArray("\r\n005\r\n\r\n001\r\n\r\n+MS: 56,1\r\n"));

    // Commands before an error take effect, later ones do not.
    outcome = modem.execute("ATS0=2X9S0=3");
    QVERIFY(outcome.error);
    QCOMPARE(modem.sRegister(0), 2);

    outcome = modem.execute("ATZ");
    QVERIFY(outcome.hangUp);
    QCOMPARE(modem.sRegister(0), 0);
    QCOMPARE(modem.sRegister(7), 50);
    QVERIFY(modem.echo());
}

void TestModemCommands::callCommands()
{
    ModemCommandInterpreter modem;
    ModemCommandOutcome outcome = modem.execute("ATDT 0815-1");
    QCOMPARE(outcome.call, ModemCommandOutcome::Call::Dial);
    QCOMPARE(outcome.dialString, QByteArray("T 0815-1"));

    // Settings before the call command apply; the call ends the line.
    outcome = modem.execute("ATS0=0A");
    QCOMPARE(outcome.call, ModemCommandOutcome::Call::Answer);
    outcome = modem.execute("ATO");
    QCOMPARE(outcome.call, ModemCommandOutcome::Call::GoOnline);
    outcome = modem.execute("ATH0");
    QVERIFY(outcome.hangUp);
    QCOMPARE(outcome.call, ModemCommandOutcome::Call::None);
    QVERIFY(!modem.execute("ATH1").hangUp);
}

void TestModemCommands::resultFraming()
{
    ModemCommandInterpreter modem;
    QCOMPARE(modem.resultText(ModemResult::Ok), QByteArray("\r\nOK\r\n"));
    QCOMPARE(modem.resultText(ModemResult::Connect, 56000), QByteArray("\r\nCONNECT 56000\r\n"));
    QCOMPARE(modem.resultText(ModemResult::Connect), QByteArray("\r\nCONNECT\r\n"));
    QCOMPARE(modem.resultText(ModemResult::NoDialTone), QByteArray("\r\nNO DIAL TONE\r\n"));
}

void TestModemCommands::resultFormsAndCarrierDetect()
{
    ModemCommandInterpreter modem;
    QVERIFY(!modem.carrierDetectAlwaysOn());
    QVERIFY(!modem.execute("ATV0W2&C0").error);
    QVERIFY(modem.numericResults());
    QVERIFY(modem.carrierDetectAlwaysOn());
    // Numbers end with CR alone; CONNECT is 1 whatever its form; results without a standard
    // number stay words.
    const QList<std::pair<ModemResult, QByteArray>> numeric = {
        {ModemResult::Ok, "0\r"},
        {ModemResult::Connect, "1\r"},
        {ModemResult::Ring, "2\r"},
        {ModemResult::NoCarrier, "3\r"},
        {ModemResult::Error, "4\r"},
        {ModemResult::NoDialTone, "6\r"},
        {ModemResult::Busy, "7\r"},
        {ModemResult::NoAnswer, "8\r"},
        {ModemResult::NoDialToneOneWord, "6\r"},
        {ModemResult::Delayed, "\r\nDELAYED\r\n"},
        {ModemResult::Ringing, "\r\nRINGING\r\n"},
    };
    for (const auto& [result, text] : numeric)
        QCOMPARE(modem.resultText(result, 56000), text);

    // W2 in words: the info lines, then the extended CONNECT, with the rate or without one.
    QVERIFY(!modem.execute("ATV1").error);
    QCOMPARE(modem.resultText(ModemResult::Connect, 56000),
             QByteArray("\r\nCARRIER 56000\r\n\r\nPROTOCOL: LAPM\r\n\r\nCOMPRESSION: V42BIS\r\n"
                        "\r\nCONNECT 56000/ARQ/V90/LAPM/V42BIS\r\n"));
    QVERIFY(modem.resultText(ModemResult::Connect).endsWith("\r\nCONNECT/ARQ/V90/LAPM/V42BIS\r\n"));
    QCOMPARE(modem.resultText(ModemResult::NoDialToneOneWord), QByteArray("\r\nNO DIALTONE\r\n"));

    for (const char* line : {"ATV2", "ATW3", "AT&C2", "AT&D1", "AT&X"})
        QVERIFY2(modem.execute(line).error, line);
    // Factory settings: words, plain CONNECT, carrier detect following the carrier.
    modem.execute("ATZ");
    QVERIFY(!modem.numericResults());
    QVERIFY(!modem.carrierDetectAlwaysOn());
    QCOMPARE(modem.resultText(ModemResult::Connect, 56000), QByteArray("\r\nCONNECT 56000\r\n"));
}

// Modems of other makers: commands they do not know, DTR ignored from power-up through ATZ,
// and the escape sent to a modem in command state already.
void TestModemCommands::commandsSomeModemsRefuseAndDtrModes()
{
    ModemCommandInterpreter modem;
    modem.setRejectedCommands({"AT%C3", "atl"});
    for (const char* line : {"AT%C3", "ATL 2", "ATX4L0"})
        QVERIFY2(modem.execute(line).error, line);
    QVERIFY(!modem.execute("AT%C0X4M1").error);
    modem.setPowerUpIgnoresDtr(true);
    QVERIFY(!modem.execute("AT&D2").error);
    QVERIFY(!modem.ignoresDtr());
    modem.execute("ATZ");
    QVERIFY(modem.ignoresDtr());
    QVERIFY(modem.execute("ATL2").error);
    QCOMPARE(typeAll(modem, "+++ATH\r\n").lines, QList<QByteArray>{"ATH"});
}

void TestModemCommands::callerIdSettingsAndText()
{
    ModemCommandInterpreter modem;
    QVERIFY(!modem.callerIdEnabled());
    ModemCommandOutcome outcome = modem.execute("AT+VCID=1;+VNAME=\"CONNECTICUT GAS\";+VCID?");
    QVERIFY(!outcome.error);
    QVERIFY(modem.callerIdEnabled());
    QCOMPARE(modem.callerName(), QByteArray("CONNECTICUT GAS"));
    QCOMPARE(outcome.information, QByteArray("\r\n+VCID: 1\r\n"));
    QCOMPARE(modem.execute("AT+VNAME?").information,
             QByteArray("\r\n+VNAME: \"CONNECTICUT GAS\"\r\n"));

    // Names are at most 15 printable characters; a refused name leaves the old one.
    QVERIFY(!modem.execute("AT+VNAME=ABCDEFGHIJKLMNO").error);
    QVERIFY(modem.execute("AT+VNAME=ABCDEFGHIJKLMNOP").error);
    QVERIFY(modem.execute("AT+VNAME=\"A\tB\"").error);
    QVERIFY(modem.execute("AT+VCID=2").error);
    QCOMPARE(modem.callerName(), QByteArray("ABCDEFGHIJKLMNO"));

    const QDateTime when(QDate(2024, 3, 21), QTime(14, 5));
    QCOMPARE(
        modem.callerIdText(when, "5551", "CONNECTICUT GAS"),
        QByteArray("\r\nDATE = 0321\r\nTIME = 1405\r\nNMBR = 5551\r\nNAME = CONNECTICUT GAS\r\n"));
    QVERIFY(modem.callerIdText(when, {}, {}).endsWith("NMBR = O\r\nNAME = O\r\n"));
    modem.execute("ATZ");
    QVERIFY(!modem.callerIdEnabled());
    QVERIFY(modem.callerName().isEmpty());
}

void TestModemCommands::testLinesAndCallerLine()
{
    QCOMPARE(parseTestLine(" test-nodialtone"), ModemTestLine::NoDialTone);
    QCOMPARE(parseTestLine("TEST-OTHER"), ModemTestLine::None);
    QCOMPARE(parseTestLine("5551"), ModemTestLine::None);

    // What a caller says of itself reaches the callee's computer as caller-ID text: never a
    // line end, never more than the field holds.
    QByteArray number;
    QByteArray name;
    QVERIFY(ModemHandshake::parseCallerLine(ModemHandshake::callerLine("5551", "CONNECTICUT GAS"),
                                            &number, &name));
    QCOMPARE(number, QByteArray("5551"));
    QCOMPARE(name, QByteArray("CONNECTICUT GAS"));
    QVERIFY(ModemHandshake::parseCallerLine(ModemHandshake::callerPrefix + QByteArray(70, '9') +
                                                " X\r\nCONNECT\r\nABCDEFGHIJKLMNOP\n",
                                            &number, &name));
    QCOMPARE(number, QByteArray(64, '9'));
    QCOMPARE(name, QByteArray("XCONNECTABCDEFG"));
    QVERIFY(!ModemHandshake::parseCallerLine("TELLARAN-LINE/1 CALL\n", &number, &name));
}

void TestModemCommands::escapeNeedsGuardTimes()
{
    ModemEscapeDetector escape;
    QByteArray release;

    // Silence, "+++", silence: an escape; the pluses never reach the line.
    escape.restart(0, 1000, '+');
    QCOMPARE(escape.feed("+++", 1000), QByteArray());
    QCOMPARE(escape.heldCount(), 3);
    QCOMPARE(escape.expire(1999, release), ModemEscapeDetector::Expiry::Nothing);
    QCOMPARE(escape.expire(2000, release), ModemEscapeDetector::Expiry::Escape);

    // Pluses inside the data pass at once.
    escape.restart(0, 1000, '+');
    QCOMPARE(escape.feed("a+++b", 5000), QByteArray("a+++b"));
    QCOMPARE(escape.deadline(), -1);

    // A byte right after the pluses: no escape, all of it goes out in order.
    escape.restart(0, 1000, '+');
    QCOMPARE(escape.feed("+++", 2000), QByteArray());
    QCOMPARE(escape.feed("x", 2500), QByteArray("+++x"));

    // Four pluses are data.
    escape.restart(0, 1000, '+');
    QCOMPARE(escape.feed("++++", 2000), QByteArray("++++"));

    // Two pluses and silence: released as data.
    escape.restart(0, 1000, '+');
    QCOMPARE(escape.feed("++", 2000), QByteArray());
    QCOMPARE(escape.expire(3000, release), ModemEscapeDetector::Expiry::Release);
    QCOMPARE(release, QByteArray("++"));

    // An escape character above 127 disables the escape.
    escape.restart(0, 1000, 200);
    QCOMPARE(escape.feed(QByteArray(3, char(200)), 5000), QByteArray(3, char(200)));
}

void TestModemCommands::pacerKeepsTheRateExactly()
{
    constexpr qint64 second = 1'000'000'000LL;
    // Byte k (from 0) of a busy line is whole on it at (k + 1) * 10 / rate s: none may go
    // more than 1 ms before that.
    const auto byteDoneNs = [](qint64 start, qint64 k, qint64 rate) {
        return start + (k + 1) * 10 * second / rate;
    };
    ModemPacer pacer;
    pacer.setRate(56000);
    pacer.restart(0);
    // After an idle second, 1 ms of the line at once: 5 bytes of 5.6.
    pacer.wake(second);
    QCOMPARE(pacer.available(second), 5);
    QCOMPARE(pacer.preferredPiece(), 5);

    // Waking late or early, in odd steps, for 10 s: the rate is exact and no byte is early.
    qint64 now = second;
    qint64 sent = 0;
    quint32 jitter = 12345;
    while (now < 11 * second) {
        const qint64 allowed = pacer.available(now);
        if (allowed > 0)
            QVERIFY2(byteDoneNs(second, sent + allowed - 1, 56000) - ModemPacer::burstNs <= now,
                     qPrintable(QString::number(now)));
        pacer.consume(allowed);
        sent += allowed;
        jitter = jitter * 1103515245u + 12345u;
        now += std::max<qint64>(1'000'000, pacer.nsUntilAvailable(5)) + (jitter >> 16) % 3'000'000;
    }
    // Exactly the bytes of the time passed, and the 1 ms ahead.
    const qint64 last = pacer.available(now);
    QCOMPARE(sent + last, (now - second + ModemPacer::burstNs) * 56000 / (10 * second));
    pacer.consume(last);
    // A wake-up 50 ms late finds 50 ms of bytes due and sends them at once: late, not early.
    QCOMPARE(pacer.available(now + 50'000'000), 280);

    // A byte slower than 1 ms still goes on an idle line: at least one byte a burst.
    ModemPacer slow;
    slow.setRate(300);
    slow.restart(0);
    QCOMPARE(slow.available(0), 1);
    slow.consume(1);
    QCOMPARE(slow.available(1'000'000), 0);
    QCOMPARE(slow.nsUntilAvailable(1), 32'333'333); // due at 33.3 ms, one byte ahead

    ModemPacer unpaced;
    unpaced.setRate(0);
    QVERIFY(!unpaced.paced());
    QVERIFY(unpaced.available(0) > 1'000'000'000);
}

void TestModemCommands::lineAddresses()
{
    ModemLineAddress address = parseModemLine(QStringLiteral("127.0.0.1:5000"));
    QVERIFY(address.isTcp());
    QCOMPARE(address.port, 5000);
    QVERIFY(parseModemLine(QStringLiteral("0815")).isExchange());
    // Names never leave the exchange folder.
    for (const char* bad : {"../0815", "a/b", "..", ".hidden", "host:0", "host:70000", ""})
        QVERIFY2(parseModemLine(QString::fromLatin1(bad)).kind == ModemLineAddress::Kind::Invalid,
                 bad);

    address = parseDialString("T 08-15");
    QVERIFY(address.isExchange());
    QCOMPARE(address.name, QStringLiteral("0815"));
    QCOMPARE(parseDialString("Tom").name, QStringLiteral("Tom"));
    address = parseDialString("T127.0.0.1:5000");
    QVERIFY(address.isTcp());
    QCOMPARE(address.host, QStringLiteral("127.0.0.1"));
    address = parseDialString("[::1]:5000;");
    QVERIFY(address.isTcp());
    QCOMPARE(address.host, QStringLiteral("::1"));
    QCOMPARE(parseDialString("../../etc/passwd").kind, ModemLineAddress::Kind::Invalid);
}

void TestModemCommands::exchangeFolder()
{
    QTemporaryDir temp;
    const QString dir = temp.filePath(QStringLiteral("a/exchange"));
    QVERIFY(prepareExchangeDir(dir, nullptr));
    struct stat info
    {};
    QCOMPARE(::stat(QFile::encodeName(dir).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);

    // A folder others may write to could hold planted lines.
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0777) == 0);
    QString why;
    QVERIFY(!prepareExchangeDir(dir, &why));
    QVERIFY(!why.isEmpty());

    QFile file(temp.filePath(QStringLiteral("plain")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(!prepareExchangeDir(file.fileName(), nullptr));
    QVERIFY(!prepareExchangeDir(QString(), nullptr));
    QCOMPARE(probeSocketFile(file.fileName()), SocketFileState::NotASocket);
    QCOMPARE(probeSocketFile(temp.filePath(QStringLiteral("none"))), SocketFileState::Missing);
}

QTEST_GUILESS_MAIN(TestModemCommands)
#include "test_modemcommands.moc"
