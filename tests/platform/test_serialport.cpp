// The serial port control: a real device through a pseudo-terminal, and the event logic
// through a backend the test drives by hand.
#include "platform/portopenlog.h"
#include "platform/realserialbackend.h"
#include "platform/serialport.h"
#include "tests/support/logcapture.h"
#include "tests/support/pseudoterminal.h"

#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <memory>

using namespace tellaran;
using tellaran::testing::PseudoTerminal;

namespace {

// A backend whose every event the test raises itself.
class FakeBackend : public SerialBackend
{
public:
    bool open(const SerialLineSettings&, QString*) override { return isOpen_ = true; }
    void close() override { isOpen_ = false; }
    bool isOpen() const override { return isOpen_; }
    void write(const QByteArray& bytes) override { written += bytes; }
    QByteArray readAll() override { return std::exchange(incoming, QByteArray()); }
    qint64 bytesAvailable() const override { return incoming.size(); }
    qint64 outputPending() const override { return written.size(); }
    bool carrierDetect() const override { return carrier; }
    void setDtr(bool) override {}
    void setRts(bool) override {}

    void receive(const QByteArray& bytes)
    {
        incoming += bytes;
        emit readyRead();
    }
    void changeCarrier(bool on)
    {
        carrier = on;
        emit carrierChanged(on);
    }

    QByteArray incoming;
    QByteArray written;
    bool carrier = false;

private:
    bool isOpen_ = false;
};

} // namespace

class SerialPortTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString mapFile() const { return dir_.filePath(QStringLiteral("ports.dat")); }
    void writeMap(const QByteArray& content)
    {
        QFile file(mapFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    // A port set up as the engine sets it, with CommPort 3 mapped to the pty.
    std::unique_ptr<SerialPort> portOnPty(PseudoTerminal& pty, SerialEnvironment environment = {})
    {
        writeMap("3,\"" + pty.slavePath().toLocal8Bit() + "\"\r\n");
        environment.portMapFile = mapFile();
        auto port = std::make_unique<SerialPort>(environment);
        port->setCommPort(3);
        port->setHandshaking(2);
        port->setDTREnable(true);
        port->setRTSEnable(true);
        port->setRThreshold(1);
        port->setSThreshold(1);
        return port;
    }

    // A port on the pty whose modem lines are whatever `line` says when it is polled.
    std::unique_ptr<SerialPort> portOnPtyWithProbe(PseudoTerminal& pty, const LineState& line)
    {
        SerialEnvironment environment;
        environment.backendFactory = [&line](const portmap::PortTarget& target,
                                             const VirtualModemOptions&) {
            auto made = std::make_unique<RealSerialBackend>(target.device);
            made->setLineStateProbe([&line](int) { return line; });
            return std::unique_ptr<SerialBackend>(std::move(made));
        };
        return portOnPty(pty, environment);
    }

    // An open port on CommPort 1 whose backend is a FakeBackend (fake_); built_ collects the
    // options of every backend built.
    FakeBackend* fake_ = nullptr;
    QList<VirtualModemOptions> built_;
    std::unique_ptr<SerialPort> portOnFake(SerialEnvironment environment = {})
    {
        environment.portMapFile = mapFile();
        environment.backendFactory = [this](const portmap::PortTarget&,
                                            const VirtualModemOptions& modem) {
            auto made = std::make_unique<FakeBackend>();
            fake_ = made.get();
            built_.append(modem);
            return std::unique_ptr<SerialBackend>(std::move(made));
        };
        auto port = std::make_unique<SerialPort>(environment);
        port->setRThreshold(1);
        port->setSThreshold(1);
        port->setPortOpen(true);
        return port;
    }

private Q_SLOTS:
    void init()
    {
        built_.clear();
        writeMap("1,\"modem:7\"\r\n");
    }

    void bytesCrossThePseudoTerminalBothWays()
    {
        PseudoTerminal pty;
        auto port = portOnPty(pty);
        QList<int> events;
        connect(port.get(), &SerialPort::OnComm, this, [&] { events.append(port->CommEvent()); });
        port->setPortOpen(true);
        QVERIFY2(port->PortOpen(), qPrintable(port->LastError()));

        // Output returns before the bytes have left: 256 KiB cannot fit the pty at once.
        const QByteArray block(256 * 1024, 'x');
        port->Output("ATX4\r\n");
        port->Output(block);
        QVERIFY(port->OutBufferCount() > 0);
        // With the master not reading, the pty takes what it can and the rest stays counted.
        QTRY_VERIFY(port->OutBufferCount() < block.size());
        QVERIFY(port->OutBufferCount() > 0);
        QVERIFY(!events.contains(SerialPort::comEvSend));

        QTRY_VERIFY_WITH_TIMEOUT((pty.received(), port->OutBufferCount() == 0), 10000);
        QTRY_VERIFY(events.contains(SerialPort::comEvSend));
        QTRY_COMPARE(pty.received(), "ATX4\r\n" + block);

        // Bytes from the modem raise event 2 and come back whole from Input, 8-bit clean.
        const QByteArray reply("\r\nOK\r\n\x00\xff\x80", 9);
        QVERIFY(pty.send(reply));
        QByteArray input;
        QTRY_VERIFY(events.contains(SerialPort::comEvReceive));
        QTRY_COMPARE((input += port->Input(), input), reply);
        QCOMPARE(port->InBufferCount(), 0);

        // A handler may close the port; it opens again cleanly afterwards.
        connect(port.get(), &SerialPort::OnComm, this, [&] { port->setPortOpen(false); });
        QVERIFY(pty.send("RING\r\n"));
        QTRY_VERIFY(!port->PortOpen());
        port->setPortOpen(true);
        QVERIFY(pty.send("RING\r\n"));
        QTRY_VERIFY(!port->PortOpen());
        QCOMPARE(port->Input(), QByteArray());
    }

    // What the modem said before is thrown away when asked, in the driver too. A pty has no
    // carrier detect to read; a device that reports it does.
    void waitingInputIsThrownAwayAndCarrierDetectMayBeUnreadable()
    {
        PseudoTerminal pty;
        auto port = portOnPty(pty);
        port->setPortOpen(true);
        QVERIFY(port->PortOpen());
        QVERIFY(!port->CDReadable());
        QVERIFY(pty.send("\r\nERROR\r\n"));
        // Into the driver's queue, with no event loop to read it out.
        QThread::msleep(200);
        port->setInBufferCount(0);
        QVERIFY(pty.send("OK\r\n"));
        QByteArray input;
        QTRY_COMPARE((input += port->Input(), input), QByteArray("OK\r\n"));
        port->setPortOpen(false);

        PseudoTerminal wired;
        LineState line;
        line.carrierDetect = false;
        auto probed = portOnPtyWithProbe(wired, line);
        probed->setPortOpen(true);
        QVERIFY(probed->CDReadable());
    }

    void closingRightAfterOutputStillDeliversIt()
    {
        PseudoTerminal pty;
        auto port = portOnPty(pty);
        // As the engine initialises the modem: open, one command, close at once.
        QByteArray expected;
        for (const QByteArray command : {"ATX4\r\n", "AT+MS=56,1\r\n", "ATL 2\r\n"}) {
            port->setPortOpen(true);
            QVERIFY2(port->PortOpen(), qPrintable(port->LastError()));
            port->Output(command);
            port->setPortOpen(false);
            QCOMPARE(pty.received(), expected += command);
        }
    }

    void openFailuresNameTheDevice()
    {
        PseudoTerminal pty;
        auto port = portOnPty(pty);
        port->setSettings(QStringLiteral("9600,q,8,1"));
        port->setPortOpen(true);
        QVERIFY(!port->PortOpen());
        QVERIFY(port->LastError().contains(pty.slavePath()));
        QVERIFY(port->LastError().contains(QLatin1String("9600,q,8,1")));
        port->setSettings(QStringLiteral("9600,n,8,1"));
        port->setPortOpen(true);
        QVERIFY(port->PortOpen() && port->LastError().isEmpty());
        port->setPortOpen(false);

        writeMap("4,\"/nonexistent/ttyQ9\"\r\n");
        port->setCommPort(4);
        port->setPortOpen(true);
        QVERIFY(!port->PortOpen());
        QVERIFY(port->LastError().contains(QLatin1String("/nonexistent/ttyQ9")));
    }

    void modemLinesAndDeviceLossThroughTheProbe()
    {
        PseudoTerminal pty;
        LineState line;
        line.carrierDetect = false;
        line.overruns = 0;
        auto port = portOnPtyWithProbe(pty, line);
        QList<QPair<int, bool>> events;
        connect(port.get(), &SerialPort::OnComm, this, [&] {
            events.append({port->CommEvent(), port->CDHolding()});
        });
        QSignalSpy failures(port.get(), &SerialPort::PortFailed);
        port->setPortOpen(true);
        QVERIFY(port->PortOpen());

        line.carrierDetect = true;
        QTRY_COMPARE(events.size(), 1);
        QCOMPARE(events.last(), qMakePair(int(SerialPort::comEvCD), true));
        line.overruns = 3;
        QTRY_COMPARE(events.size(), 2);
        QCOMPARE(events.last().first, int(SerialPort::comEventOverrun));

        // Unplugged with the carrier up: reported once, the port closes, the call is lost.
        line.deviceGone = true;
        QTRY_COMPARE(failures.size(), 1);
        QVERIFY(!port->PortOpen());
        QVERIFY(port->LastError().contains(pty.slavePath()));
        QCOMPARE(events.size(), 3);
        QCOMPARE(events.last(), qMakePair(int(SerialPort::comEvCD), false));
    }

    void handlerMayDeleteThePortWhileAPollHasMoreNews()
    {
        // Carrier and an overrun seen by one poll; the carrier's handler deletes the port,
        // and with it the backend that is still inside its poll.
        PseudoTerminal pty;
        LineState line;
        line.carrierDetect = false;
        line.overruns = 0;
        auto port = portOnPtyWithProbe(pty, line);
        QList<int> events;
        connect(port.get(), &SerialPort::OnComm, this, [&] {
            events.append(port->CommEvent());
            port.reset();
        });
        port->setPortOpen(true);
        QVERIFY(port->PortOpen());
        line.carrierDetect = true;
        line.overruns = 1;
        QTRY_VERIFY(!port);
        QTest::qWait(3 * RealSerialBackend::carrierPollMs);
        QCOMPARE(events, QList<int>{SerialPort::comEvCD});
    }

    void hangingUpTheFarEndFailsThePortOnce()
    {
        PseudoTerminal pty;
        auto port = portOnPty(pty);
        QSignalSpy failures(port.get(), &SerialPort::PortFailed);
        port->setPortOpen(true);
        QSignalSpy backendFailures(port->backend(), &SerialBackend::failed);
        port->Output(QByteArray(128 * 1024, 'y')); // output stuck in Qt's buffer
        pty.closeMaster();
        QTRY_COMPARE(failures.size(), 1);
        QVERIFY(!port->PortOpen());
        QCOMPARE(port->OutBufferCount(), 0);
        QTest::qWait(100); // a failed device must not go on reporting
        QCOMPARE(backendFailures.size(), 1);
    }

    void backendEventsBecomeOnCommCodes()
    {
        auto port = portOnFake();
        FakeBackend* fake = fake_;
        QList<int> events;
        connect(port.get(), &SerialPort::OnComm, this, [&] { events.append(port->CommEvent()); });

        fake->receive("CONNECT 56000\r");
        fake->changeCarrier(true);
        QVERIFY(port->CDHolding());
        emit fake->outputDrained();
        emit fake->lineError(SerialPort::comEventOverrun);
        emit fake->lineError(SerialPort::comEventRxParity);
        QCOMPARE(events, QList<int>({2, 5, 1, 1006, 1009}));
        QCOMPARE(port->Input(), QByteArray("CONNECT 56000\r"));

        // Thresholds of 0 switch events 1 and 2 off; the data is still there to read.
        events.clear();
        port->setRThreshold(0);
        port->setSThreshold(0);
        port->setNullDiscard(true);
        fake->receive(QByteArray("x\0y", 3));
        emit fake->outputDrained();
        QVERIFY(events.isEmpty());
        QCOMPARE(port->Input(), QByteArray("xy"));

        // A flood past the receive buffer keeps what fits and reports the rest lost.
        port->setRThreshold(1);
        fake->receive(QByteArray(2 * 1024 * 1024, 'f'));
        QCOMPARE(events, QList<int>({1008, 2}));
        QVERIFY(port->Input().size() < 2 * 1024 * 1024);

        // Nothing is reported after the port closes.
        events.clear();
        port->setPortOpen(false);
        fake->receive("late");
        fake->changeCarrier(false);
        QVERIFY(events.isEmpty());
    }

    void commEventStaysRightAcrossNestedEvents()
    {
        auto port = portOnFake();
        FakeBackend* fake = fake_;
        QList<int> seen;
        connect(port.get(), &SerialPort::OnComm, this, [&] {
            const int code = port->CommEvent();
            if (code == SerialPort::comEvCD) {
                // As a message box would: a nested loop in which data arrives.
                QEventLoop loop;
                QTimer::singleShot(0, &loop, [&] {
                    fake->receive("RING\r");
                    loop.quit();
                });
                loop.exec();
            }
            seen << code << port->CommEvent();
        });
        fake->changeCarrier(true);
        QCOMPARE(seen, QList<int>({2, 2, 5, 5}));
    }

    void modemIsKeptWhileCommPortAndTargetStay()
    {
        writeMap("1,\"modem:7\"\r\n2,\"modem:7@0\"\r\n");
        auto port = portOnFake();
        port->setPortOpen(false);
        port->setPortOpen(true);
        QCOMPARE(built_.size(), 1);
        QCOMPARE(built_[0].line, QStringLiteral("7"));
        QCOMPARE(built_[0].lineRate, 56000);
        QCOMPARE(built_[0].exchangeDir, defaultExchangeDir());

        // Another port, or an edited map at the next open, gets a modem of its own.
        port->setPortOpen(false);
        port->setCommPort(2);
        port->setPortOpen(true);
        QCOMPARE(built_.size(), 2);
        QCOMPARE(built_[1].lineRate, 0);
        writeMap("2,\"modem:8\"\r\n");
        port->setPortOpen(false);
        port->setPortOpen(true);
        QCOMPARE(built_.size(), 3);
        QCOMPARE(built_[2].line, QStringLiteral("8"));

        // The environment's rate and exchange override the defaults (tests, benchmarks).
        writeMap("1,\"modem:7@0\"\r\n");
        SerialEnvironment environment;
        environment.virtualLineRate = 1200;
        environment.exchangeDir = dir_.filePath(QStringLiteral("exchange"));
        auto overridden = portOnFake(environment);
        QCOMPARE(built_.last().lineRate, 1200);
        QCOMPARE(built_.last().exchangeDir, environment.exchangeDir);
    }

    // Each opening is logged with the device, the settings and the outcome; a failure warns
    // (the log may be off), once until something changes.
    void eachOpeningIsLogged()
    {
        tellaran::testing::LogCapture log("tellaran.modem");
        writeMap("4,\"/nonexistent/ttyQ9\"\r\n");
        SerialEnvironment environment;
        environment.portMapFile = mapFile();
        SerialPort port(environment);
        port.setCommPort(4);
        port.setSettings(QStringLiteral("57600,n,8,1"));
        port.setPortOpen(true);
        port.setPortOpen(true);
        const QString failure = QStringLiteral("port 4 (/nonexistent/ttyQ9, 57600,n,8,1): "
                                               "not opened: ") +
                                port.LastError();
        QVERIFY(port.LastError().contains(QLatin1String("/nonexistent/ttyQ9")));
        QCOMPARE(log.lines, (QStringList{"warning " + failure, "debug " + failure}));

        writeMap("4,\"modem:7\"\r\n");
        auto fake = portOnFake();
        log.lines.clear();
        fake->setPortOpen(false);
        fake->setCommPort(1);
        writeMap("1,\"modem:7\"\r\n");
        fake->setSettings(QStringLiteral("9600,n,8,1"));
        fake->setPortOpen(true);
        QCOMPARE(log.lines, QStringList{"debug port 1 (modem:7, 9600,n,8,1): opened"});
        // The user is pointed at what usually lies behind such a failure.
        QVERIFY(PortFailureHint(QStringLiteral("Permission denied")).contains("dialout"));
        QVERIFY(
            PortFailureHint(QStringLiteral("Device or resource busy")).contains("ModemManager"));
        QVERIFY(PortFailureHint(QStringLiteral("No such file or directory")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(SerialPortTest)
#include "test_serialport.moc"
