// What counts as a modem result: whole lines only, every common word and number, and the
// "NO CARRIER" of a call that ended while connected mode cuts only link frames.
#include "engine/link/modemresult.h"

#include <QTest>

using namespace tellaran;

Q_DECLARE_METATYPE(tellaran::ModemResultCode)

class TestModemResult : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void classify_data();
    void classify();
    void noCarrierInTheCarryOver_data();
    void noCarrierInTheCarryOver();
};

void TestModemResult::classify_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<ModemResultCode>("code");
    QTest::addColumn<QByteArray>("word");
    using C = ModemResultCode;
    const auto result = [](const char* name, const char* line, C code, const char* word) {
        QTest::newRow(name) << QByteArray(line) << code << QByteArray(word);
    };
    const auto none = [](const char* name, const char* line) {
        QTest::newRow(name) << QByteArray(line) << C::NotAResult << QByteArray();
    };

    // The words, as lines are cut (a line feed in front) or ended by CR alone.
    result("ok", "\nOK", C::Ok, "OK");
    result("ring", "RING", C::Ring, "RING");
    result("no carrier", "\nNO CARRIER", C::NoCarrier, "NO CARRIER");
    result("busy", " BUSY\t", C::Busy, "BUSY");
    result("no answer", "\nNO ANSWER\n", C::NoAnswer, "NO ANSWER");
    result("no dial tone", "\nNO DIAL TONE", C::NoDialTone, "NO DIAL TONE");
    result("no dialtone", "\nNO DIALTONE", C::NoDialTone, "NO DIAL TONE");
    result("error", "\nERROR", C::Error, "ERROR");
    result("delayed", "\nDELAYED", C::Delayed, "DELAYED");
    result("blacklisted", "\nBLACKLISTED", C::Blacklisted, "BLACKLISTED");
    result("voice", "\nVOICE", C::Voice, "VOICE");
    result("connect", "\nCONNECT", C::Connect, "CONNECT");
    result("connect rate", "\nCONNECT 56000", C::Connect, "CONNECT");
    result("connect extended", "\nCONNECT 28800/ARQ/V34/LAPM/V42BIS", C::Connect, "CONNECT");
    result("connect slash", "CONNECT/ARQ", C::Connect, "CONNECT");

    // Numeric results; the echoed "ATA" in front of one is no part of it.
    result("0", "0", C::Ok, "OK");
    result("1 after ata", "ATA1", C::Connect, "CONNECT");
    result("2 after ata", "ATA2", C::Ring, "RING");
    result("2 after two atas", "ATAATA2", C::Ring, "RING");
    result("3", "\n3", C::NoCarrier, "NO CARRIER");
    result("6", "6", C::NoDialTone, "NO DIAL TONE");
    result("7", "7", C::Busy, "BUSY");
    none("5", "5");
    none("10", "10");

    // Lines that hold a word but are none.
    none("ringing", "\nRINGING");
    none("caller id name", "\nNAME = CONNECTICUT GAS");
    none("connecticut", "CONNECTICUT");
    none("carrier info", "\nCARRIER 14400");
    none("echoed dial", "ATDT 0815 BUSY");
    none("echoed answer command", "ATE1S0=1");
    none("ata alone", "ATA");
    none("word in a sentence", "THE LINE IS BUSY");
    none("lower case", "ok");
    none("empty", "\n");
}

void TestModemResult::classify()
{
    QFETCH(QByteArray, line);
    QFETCH(ModemResultCode, code);
    QFETCH(QByteArray, word);
    const ModemLineResult result = ClassifyModemLine(line);
    QCOMPARE(result.code, code);
    QCOMPARE(result.word, word);
}

void TestModemResult::noCarrierInTheCarryOver_data()
{
    QTest::addColumn<QByteArray>("carryOver");
    QTest::addColumn<bool>("beforeFrames");
    QTest::addColumn<bool>("endsWith");

    // Between frames: the modem's own line.
    QTest::newRow("alone") << QByteArray("\r\nNO CARRIER\r\n") << true << true;
    QTest::newRow("numeric") << QByteArray("3\r") << true << false;
    QTest::newRow("before a frame")
        << QByteArray("\r\nNO CARRIER\r\n<modem><CHAT") << true << false;
    // Only near the start is it looked for; further on, only at the end.
    QTest::newRow("within the first 256") << QByteArray(240, 'x') + "\r\nNO CARRIER\r\n"
                                          << true << true;
    QTest::newRow("past the first 256") << QByteArray(244, 'x') + "\r\nNO CARRIER\r\n"
                                        << false << true;
    QTest::newRow("not finished") << QByteArray("\r\nNO CARR") << false << false;
    // Inside a frame: payload, unless the frame never finishes.
    QTest::newRow("payload") << QByteArray("<modem><CHAT0001>\r\nNO CARRIER\r\nmore") << false
                             << false;
    QTest::newRow("unfinished frame")
        << QByteArray("<modem><CHAT0001>half a pay\r\nNO CARRIER\r\n") << false << true;
    QTest::newRow("cr alone") << QByteArray("<modem><CHAT0001>x\rNO CARRIER\r") << false << true;
    QTest::newRow("word inside a line")
        << QByteArray("<modem><CHAT0001>x\rSAID NO CARRIER\r") << false << false;
    QTest::newRow("other result") << QByteArray("\r\nRING\r\n") << false << false;
}

void TestModemResult::noCarrierInTheCarryOver()
{
    QFETCH(QByteArray, carryOver);
    QFETCH(bool, beforeFrames);
    QFETCH(bool, endsWith);
    QCOMPARE(NoCarrierBeforeFrames(carryOver), beforeFrames);
    QCOMPARE(EndsWithNoCarrier(carryOver), endsWith);
}

QTEST_GUILESS_MAIN(TestModemResult)
#include "test_modemresult.moc"
