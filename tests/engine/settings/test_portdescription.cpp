// What a port number means in words: the settings dialog's port line, its help text and the
// engine's --ports report.
#include "engine/settings/portchoices.h"
#include "engine/settings/portdescription.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tellaran;

namespace {

const QList<SerialDevice> devices = {
    {QStringLiteral("/dev/ttyACM0"), QString(), QString()},
    {QStringLiteral("/dev/ttyS0"), QString(), QStringLiteral("Acme")},
    {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("USB modem"), QStringLiteral("Acme")},
};

} // namespace

class TestPortDescription : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void describesEachKindOfPort_data()
    {
        QTest::addColumn<QByteArray>("map");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        const QByteArray map = "1,\"modem:5551\"\r\n2,\"/dev/ttyUSB0\"\r\n3,\"modem:7@0\"\r\n"
                               "4,\"modem:host:9@9600\"\r\n5,\"/dev/ttyACM0\"\r\n"
                               "6,\"/dev/gone\"\r\n1,\"/dev/ttyUSB0\"\r\n";
        QTest::newRow("virtual modem") << map << "1"
                                       << "virtual modem, line 5551";
        QTest::newRow("unpaced") << map << "3"
                                 << "virtual modem, line 7, unpaced";
        QTest::newRow("rate") << map << "4"
                              << "virtual modem, line host:9, 9600 bit/s";
        QTest::newRow("device found") << map << "2"
                                      << "/dev/ttyUSB0 (USB modem, present)";
        QTest::newRow("found, nothing known") << map << "5"
                                              << "/dev/ttyACM0 (present)";
        QTest::newRow("device missing") << map << "6"
                                        << "/dev/gone (not present)";
        // Blanks before the number are skipped, as the engine skips them.
        QTest::newRow("unmapped") << map << " 7"
                                  << "/dev/ttyS6 (not present)";
        // A device of which only the maker is known is named by its maker.
        QTest::newRow("unmapped port 1") << QByteArray() << "1"
                                         << "/dev/ttyS0 (Acme, present)";
        QTest::newRow("leading number") << map << "2x"
                                        << "/dev/ttyUSB0 (USB modem, present)";
        QTest::newRow("zero") << map << "0"
                              << "no port: the number must be 1 or more";
        QTest::newRow("no number") << map << "abc"
                                   << "no port: the number must be 1 or more";
        QTest::newRow("negative") << map << "-1"
                                  << "no port: the number must be 1 or more";
    }
    void describesEachKindOfPort()
    {
        QFETCH(QByteArray, map);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        QCOMPARE(DescribePort(portmap::readPortMap(map), PortNumberOf(field), devices), expected);
    }

    // A link to a device (as under /dev/serial/by-id) is the device it points to.
    void linkToADeviceIsThatDevice()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("by-id-modem"));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));
        const QList<SerialDevice> found = {
            {QStringLiteral("/dev/null"), QStringLiteral("Modem"), {}}};
        portmap::PortTarget target;
        QVERIFY(portmap::parseTarget(link, &target));
        QCOMPARE(DescribePortTarget(target, found), link + QStringLiteral(" (Modem, present)"));
    }

    void helpTextNamesTheMapAndTheDevices()
    {
        const QString help = CommPortHelpText(QStringLiteral("/x/data/ports.dat"), devices);
        QVERIFY(help.contains(QLatin1String("/x/data/ports.dat")));
        QVERIFY(help.contains(QLatin1String("1,\"modem:5551\"")));
        QVERIFY(help.contains(QLatin1String("Found here: /dev/ttyACM0; /dev/ttyS0 (maker: Acme); "
                                            "/dev/ttyUSB0 (USB modem, maker: Acme).")));
        QVERIFY(CommPortHelpText(QStringLiteral("/x"), {})
                    .endsWith(QLatin1String("No serial device was found on this computer.")));
    }

    void reportListsRecordsDefaultsAndDevices()
    {
        const auto records =
            portmap::readPortMap("2,\"modem:5551\"\r\n9,\"/dev/ttyUSB0\"\r\n2,\"/dev/x\"\r\n");
        QCOMPARE(PortsReport(QStringLiteral("/d/ports.dat"), true, records, devices),
                 QStringLiteral("Port map /d/ports.dat\n"
                                "  port 2: modem:5551 = virtual modem, line 5551\n"
                                "  port 9: /dev/ttyUSB0 = /dev/ttyUSB0 (USB modem, present)\n"
                                "  port 2: /dev/x = /dev/x (not present) (ignored: an earlier "
                                "record maps port 2)\n"
                                "Ports 1 to 4 without a record\n"
                                "  port 1: /dev/ttyS0 (Acme, present)\n"
                                "  port 3: /dev/ttyS2 (not present)\n"
                                "  port 4: /dev/ttyS3 (not present)\n"
                                "Serial devices on this computer\n"
                                "  /dev/ttyACM0\n"
                                "  /dev/ttyS0 (maker: Acme)\n"
                                "  /dev/ttyUSB0 (USB modem, maker: Acme)\n"));

        const QString bare = PortsReport(QStringLiteral("/d/ports.dat"), false, {}, {});
        QVERIFY(bare.contains(QLatin1String("(no such file: every port means its serial device)")));
        QVERIFY(bare.contains(QLatin1String("  port 4: /dev/ttyS3 (not present)\n")));
        QVERIFY(bare.endsWith(QLatin1String("  (none found)\n")));
        const auto all = portmap::readPortMap("1,\"a\"\r\n2,\"b\"\r\n3,\"c\"\r\n4,\"d\"\r\n");
        QVERIFY(PortsReport(QStringLiteral("/p"), true, all, {})
                    .contains(QLatin1String("without a record\n  (all have a record)\n")));
        QVERIFY(PortsReport(QStringLiteral("/p"), true, {}, {})
                    .contains(QLatin1String("(no records)")));
    }

    // The settings dialog's list: each device found with what it says of itself, then the
    // virtual modem on the map's own line, or on 5551 when the map names none.
    void choicesOfferTheDevicesAndTheVirtualModem()
    {
        const QList<PortChoice> choices =
            PortChoices(portmap::readPortMap("2,\"/dev/ttyUSB0\"\r\n3,\"modem:7@0\"\r\n"), devices);
        QStringList texts;
        for (const PortChoice& choice : choices)
            texts << choice.text;
        QCOMPARE(texts, (QStringList{"/dev/ttyACM0", "/dev/ttyS0 (maker: Acme)",
                                     "/dev/ttyUSB0 (USB modem, maker: Acme)",
                                     "virtual modem, line 7, unpaced"}));
        QCOMPARE(choices[2].target.text(), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(IndexOfChoice(choices, choices[3].target), 3);
        QCOMPARE(IndexOfChoice(choices, portmap::defaultTarget(9)), -1);
        const QList<PortChoice> none = PortChoices({}, {});
        QCOMPARE(none.size(), 1);
        QCOMPARE(none[0].target.text(), QStringLiteral("modem:5551"));
    }

    // A real device below 57600 bit/s is told it caps a 56k line; exactly 57600 is not, and
    // the virtual modem, whose pace is its own, never is.
    void slowPortOfARealDeviceIsToldItsCap()
    {
        const portmap::PortTarget device = portmap::defaultTarget(1);
        QCOMPARE(PortSpeedAdvice(device, QStringLiteral("9600,n,8,1")),
                 QStringLiteral("at 9600 bit/s the port carries at most 960 bytes/s: set 57600 "
                                "or 115200 in Settings for a 56k modem"));
        QVERIFY(!PortSpeedAdvice(device, QStringLiteral("57599,n,8,1")).isEmpty());
        QVERIFY(PortSpeedAdvice(device, QStringLiteral("57600,n,8,1")).isEmpty());
        QVERIFY(PortSpeedAdvice(device, QStringLiteral("garbled")).isEmpty());
        const portmap::PortTarget modem = portmap::readPortMap("1,\"modem:5551\"\r\n")[0].target;
        QVERIFY(PortSpeedAdvice(modem, QStringLiteral("9600,n,8,1")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPortDescription)
#include "test_portdescription.moc"
