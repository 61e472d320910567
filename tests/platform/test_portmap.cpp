// The port map, the line settings text and the parity-mark decoder: the pure logic behind
// which device a port opens and how.
#include "platform/portmap.h"
#include "platform/portmapfile.h"
#include "platform/realserialbackend.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace tellaran;
using portmap::PortTarget;

class PortMapTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resolvesRecordsModemsAndDefaults()
    {
        const auto records = portmap::readPortMap("3,\"/dev/ttyACM0\"\r\n"
                                                  "4,\"modem:7\"\r\n"
                                                  "5,\"modem:10.0.0.2:5000@0\"\r\n"
                                                  "6,\"modem:9@9600\"\r\n"
                                                  "7,\"modem:8@0  reply-delay=300 "
                                                  "reject=AT%C3,ATL ignore-dtr\"\r\n"
                                                  "8,\"modem:8 reply-delay=3s\"\r\n"
                                                  "8,\"modem:8 answer-late\"\r\n");
        const auto target = [&](int port) { return portmap::resolvePort(records, port); };
        QCOMPARE(target(3).kind, PortTarget::Device);
        QCOMPARE(target(3).device, QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(target(4).kind, PortTarget::VirtualModem);
        QCOMPARE(target(4).line, QStringLiteral("7"));
        QCOMPARE(target(4).lineRate, -1);
        // A TCP line keeps its own colon; the rate is what follows the '@'.
        QCOMPARE(target(5).line, QStringLiteral("10.0.0.2:5000"));
        QCOMPARE(target(5).lineRate, 0);
        QCOMPARE(target(5).text(), QStringLiteral("modem:10.0.0.2:5000@0"));
        QCOMPARE(target(6).lineRate, 9600);
        // A modem made to behave as some real ones do; its text reads back the same.
        QCOMPARE(target(7).line, QStringLiteral("8"));
        QCOMPARE(target(7).lineRate, 0);
        QCOMPARE(target(7).replyDelayMs, 300);
        QCOMPARE(target(7).rejectedCommands, (QByteArrayList{"AT%C3", "ATL"}));
        QVERIFY(target(7).ignoreDtr);
        PortTarget again;
        QVERIFY(portmap::parseTarget(target(7).text(), &again));
        QCOMPARE(again, target(7));
        QVERIFY(!target(4).ignoreDtr && target(4).replyDelayMs == 0);
        // An option it does not know, or a delay that is no number, makes no target.
        QCOMPARE(target(8).kind, PortTarget::Device);
        // Unmapped numbers: port n is /dev/ttyS<n-1>; below 1 there is nothing.
        QCOMPARE(target(1).device, QStringLiteral("/dev/ttyS0"));
        QCOMPARE(target(12).text(), QStringLiteral("/dev/ttyS11"));
        QCOMPARE(target(0).kind, PortTarget::NoDevice);
    }

    void damagedRecordsAreSkippedAndTheRestStillCount()
    {
        const auto records = portmap::readPortMap(QByteArrayLiteral(
            "garbage without commas\r\n\"text first\",2\r\n-1,\"/dev/ttyUSB9\"\r\n"
            "x7,\"/dev/ttyUSB9\"\r\n2,\"\"\r\n2,\"modem:\"\r\n2,\"modem:@9600\"\r\n"
            "2,\"modem:7@fast\"\r\n2,\"modem:7@99999999999\"\r\n2,#TRUE#\r\n"
            "8,\"/dev/ttyUSB1\",\"extra\"\r\n\xff\xfe\x00\x01,,,\"\r\n"
            "9,\"/dev/ttyUSB2\"\r\n9,\"/dev/ttyUSB3\"\r\n4,\"unterminated"));
        const auto device = [&](int port) { return portmap::resolvePort(records, port).device; };
        QCOMPARE(device(2), QStringLiteral("/dev/ttyS1")); // no usable record: the default
        QCOMPARE(device(7), QStringLiteral("/dev/ttyS6"));
        QCOMPARE(device(8), QStringLiteral("/dev/ttyUSB1"));
        // A damaged line does not shift the records after it; the first record wins.
        QCOMPARE(device(9), QStringLiteral("/dev/ttyUSB2"));
        QCOMPARE(device(4), QStringLiteral("unterminated"));

        // A missing map, or a folder in its place, maps nothing.
        QTemporaryDir dir;
        QCOMPARE(portmap::resolvePortFromFile(dir.filePath(QStringLiteral("ports.dat")), 2).device,
                 QStringLiteral("/dev/ttyS1"));
        QCOMPARE(portmap::resolvePortFromFile(dir.path(), 1).device, QStringLiteral("/dev/ttyS0"));
    }

    void settingsText()
    {
        SerialLineParameters p;
        QVERIFY(parseSerialSettings(QStringLiteral(" 19200 , E , 7 , 2 "), &p, nullptr));
        QCOMPARE(p.baudRate, 19200);
        QCOMPARE(p.parity, QSerialPort::EvenParity);
        QCOMPARE(p.dataBits, QSerialPort::Data7);
        QCOMPARE(p.stopBits, QSerialPort::TwoStop);
        QVERIFY(parseSerialSettings(QStringLiteral("115200,o,5,1.5"), &p, nullptr));
        QCOMPARE(p.parity, QSerialPort::OddParity);
        QCOMPARE(p.stopBits, QSerialPort::OneAndHalfStop);

        for (const char* bad : {"", "9600", "9600,n,8", "9600,n,8,1,1", "fast,n,8,1", "0,n,8,1",
                                "-9600,n,8,1", "9600,x,8,1", "9600,,8,1", "9600,n,9,1",
                                "9600,n,4,1", "9600,n,8,3", "9600,n,8,1.0"}) {
            QString error;
            QVERIFY2(!parseSerialSettings(QString::fromLatin1(bad), &p, &error), bad);
            // The reason quotes what was given, so the user can find the typo.
            QVERIFY(error.contains(QLatin1Char('"') + QString::fromLatin1(bad) + QLatin1Char('"')));
        }
    }

    void parityMarksAreReplacedEvenAcrossBlocks()
    {
        ParityMarkDecoder decoder;
        int errors = -1;
        const auto decode = [&](const char* bytes, qsizetype size, const QByteArray& replace) {
            return decoder.decode(QByteArray(bytes, size), replace, &errors);
        };
        QCOMPARE(decode("ab\xff\x00x\xff\xffz", 8, "?"), QByteArray("ab?\xffz"));
        QCOMPARE(errors, 1);
        // A mark cut after its first or second byte is completed by the next block.
        QCOMPARE(decode("g\xff", 2, "?"), QByteArray("g"));
        QCOMPARE(decode("\x00", 1, "?"), QByteArray());
        QCOMPARE(decode("\x00h", 2, "?"), QByteArray("?h"));
        QCOMPARE(errors, 1);
        QCOMPARE(decode("\xff", 1, "?"), QByteArray());
        QCOMPARE(decode("\xffi", 2, "?"), QByteArray("\xffi"));
        QCOMPARE(errors, 0);
        // No replacement character: the damaged byte is dropped.
        QCOMPARE(decode("j\xff\x00\x00k", 5, QByteArray()), QByteArray("jk"));
        QCOMPARE(errors, 1);
    }

    // Choosing a device sets that port's record; every other line stays byte for byte.
    void settingARecordKeepsTheOthers()
    {
        PortTarget usb;
        QVERIFY(portmap::parseTarget(QStringLiteral("/dev/ttyUSB0"), &usb));
        const QByteArray others = "1,\"modem:5551\"\r\n# a note\n3,\"/dev/ttyACM0\"\r\n";
        // The first record of the port is replaced where it stands; later ones, which never
        // counted, go.
        QCOMPARE(
            portmap::withPortRecord("1,\"modem:5551\"\r\n2,\"/dev/ttyS1\"\r\n# a note\n2,\"x\"\r\n"
                                    "3,\"/dev/ttyACM0\"\r\n",
                                    2, usb),
            QByteArray("1,\"modem:5551\"\r\n2,\"/dev/ttyUSB0\"\r\n# a note\n"
                       "3,\"/dev/ttyACM0\"\r\n"));
        // A port without a record gets one at the end, on a line of its own; 12 is not 1.
        QCOMPARE(portmap::withPortRecord(others, 12, usb), others + "12,\"/dev/ttyUSB0\"\r\n");
        QCOMPARE(portmap::withPortRecord("1,\"modem:5551\"", 2, usb),
                 QByteArray("1,\"modem:5551\"\r\n2,\"/dev/ttyUSB0\"\r\n"));
        QCOMPARE(portmap::withPortRecord(QByteArray(), 1, usb),
                 QByteArray("1,\"/dev/ttyUSB0\"\r\n"));
        // What it writes reads back as that port's target.
        PortTarget modem;
        QVERIFY(portmap::parseTarget(QStringLiteral("modem:7@0"), &modem));
        QCOMPARE(portmap::resolvePort(
                     portmap::readPortMap(portmap::withPortRecord(others, 3, modem)), 3),
                 modem);

        // Through the file: replaced whole, the temporary file gone; a target the file cannot
        // hold, or a port below 1, leaves it as it was.
        QTemporaryDir dir;
        const QString map = dir.filePath(QStringLiteral("ports.dat"));
        QVERIFY(portmap::writePortRecord(map, 1, usb));
        QFile file(map);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("1,\"/dev/ttyUSB0\"\r\n"));
        file.close();
        PortTarget quoted;
        QVERIFY(portmap::parseTarget(QStringLiteral("/dev/tty\"Q"), &quoted));
        QString error;
        QVERIFY(!portmap::writePortRecord(map, 1, quoted, &error));
        QVERIFY(error.contains(QLatin1String("cannot hold")));
        QVERIFY(!portmap::writePortRecord(map, 0, usb, &error));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("1,\"/dev/ttyUSB0\"\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("ports.dat")});
    }
};

QTEST_GUILESS_MAIN(PortMapTest)
#include "test_portmap.moc"
