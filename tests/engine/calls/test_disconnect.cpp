// The disconnect: the question, the stored time, the output guard and the ends of a call.
#include "callstestsupport.h"
#include "engine/calls/connectiontimekeeper.h"
#include "engine/calls/disconnectcall.h"
#include "tests/support/pseudoterminal.h"

#include <QDir>
#include <QTest>
#include <optional>

using namespace tellaran;
using namespace tellaran::testing;

class TestDisconnect : public QObject
{
    Q_OBJECT

    std::optional<CallsEngine> engine_;

    // A call that is up: settings stored at 00:00:00, the port open, the clock at `time`.
    void callUp(bool recordingPort, const QString& time)
    {
        engine_.emplace(recordingPort);
        engine_->writeSettings("00:00:00");
        engine_->connected = true;
        engine_->dialerTime = time;
        engine_->statusWindow();
    }
    QByteArray storedTime() const { return SettingsFile(engine_->programDir()).ReadStoredTime(); }

private Q_SLOTS:
    void cleanup() { engine_.reset(); }

    void noChangesNothing()
    {
        callUp(true, "00:07:42");
        engine_->modemPort().setPortOpen(true);
        const QByteArray settings = engine_->readDataFile("data.dat");
        engine_->boxes.answerNext(BoxAnswer::No);
        DisconnectCall(*engine_);
        const auto box = engine_->boxes.boxes().first();
        QCOMPARE(box.text, "Do You want to disconnect?");
        QCOMPARE(box.title, "Tellaran");
        QCOMPARE(box.buttons, BoxButtons::YesNo);
        QCOMPARE(engine_->readDataFile("data.dat"), settings);
        QVERIFY(engine_->modemPort().PortOpen());
        QCOMPARE(engine_->endProgramCalls, 0);
    }

    void yesWithNothingWaitingEndsAtOnce()
    {
        callUp(false, "00:07:42");
        PseudoTerminal pty;
        QVERIFY(pty.isValid());
        engine_->writeDataFile("ports.dat", pty.portMapRecord(1));
        engine_->modemPort().setPortOpen(true);
        QVERIFY(engine_->modemPort().PortOpen());
        DisconnectCall(*engine_);
        QCOMPARE(engine_->boxes.boxes().size(), 1);
        QCOMPARE(storedTime(), QByteArray("00:07:42"));
        // Hung up, not only closed: DTR alone may not end the call.
        QCOMPARE(engine_->modemHangUps, 1);
        QVERIFY(!engine_->modemPort().PortOpen());
        QCOMPARE(engine_->endProgramCalls, 1);
    }

    void waitingOutputAsksFirst()
    {
        callUp(true, "00:07:42");
        engine_->modemPort().setPortOpen(true);
        // Bytes in the port's buffer: Retry keeps the call, with the time already stored.
        engine_->pendingOutput = 5;
        engine_->boxes.answerNext(BoxAnswer::Yes);
        engine_->boxes.answerNext(BoxAnswer::Retry);
        DisconnectCall(*engine_);
        QCOMPARE(engine_->boxes.boxes().size(), 2);
        const auto warning = engine_->boxes.boxes().last();
        QCOMPARE(warning.text, "There is still data in the output buffer.  If you close the "
                               "port now, the data will be lost.Press Retry to wait for the data "
                               "to clear, Cancel to close the port.");
        QCOMPARE(warning.title, "Warning");
        QCOMPARE(warning.buttons, BoxButtons::RetryCancel);
        QCOMPARE(storedTime(), QByteArray("00:07:42"));
        QVERIFY(engine_->modemPort().PortOpen());
        QVERIFY(engine_->connected);
        QCOMPARE(engine_->endProgramCalls, 0);

        // Frames the drain has not yet taken count as well, though they wait in a program's
        // own queue, not yet committed to the line; Cancel throws them away.
        engine_->statusWindow().senddata().enqueue(3, "<modem>x<xodem>\r");
        QCOMPARE(engine_->statusWindow().senddata().committed(), 0);
        engine_->pendingOutput = 0;
        engine_->dialerTime = "00:08:00";
        engine_->boxes.answerNext(BoxAnswer::Yes);
        engine_->boxes.answerNext(BoxAnswer::Cancel);
        DisconnectCall(*engine_);
        QCOMPARE(engine_->boxes.boxes().size(), 4);
        QCOMPARE(engine_->boxes.boxes().last().title, "Warning");
        QCOMPARE(storedTime(), QByteArray("00:08:00"));
        QCOMPARE(engine_->modemHangUps, 1);
        QVERIFY(!engine_->modemPort().PortOpen());
        QVERIFY(!engine_->connected);
        QCOMPARE(engine_->endProgramCalls, 1);
    }

    void aCallAlreadyGoneIsSaidSo()
    {
        // The line dropped and the port closed before the user chose to disconnect.
        callUp(true, "00:00:30");
        engine_->modemPort().setPortOpen(true);
        engine_->modemPort().setPortOpen(false);
        DisconnectCall(*engine_);
        QCOMPARE(engine_->boxes.texts(),
                 QStringList({"Do You want to disconnect?", "The Connection has already been "
                                                            "terminated !"}));
        QCOMPARE(storedTime(), QByteArray("00:00:30"));
        QCOMPARE(engine_->endProgramCalls, 1);

        // With no modem window at all, it is not loaded just to find that out.
        callUp(true, "00:00:31");
        DisconnectCall(*engine_);
        QCOMPARE(engine_->modemPortReached, 0);
        QCOMPARE(engine_->boxes.texts().last(), "The Connection has already been terminated !");
        QCOMPARE(storedTime(), QByteArray("00:00:31"));
    }

    void aTimeThatCannotBeStoredIsSaid()
    {
        callUp(true, "00:00:30");
        engine_->modemPort().setPortOpen(true);
        // The settings file cannot be rewritten: its temporary file is a folder.
        QVERIFY(QDir().mkpath(engine_->dataPath("datatemp.dat")));
        DisconnectCall(*engine_);
        QCOMPARE(engine_->boxes.texts(),
                 QStringList({"Do You want to disconnect?",
                              ConnectionTimeNotStoredText(engine_->dataPath("data.dat"),
                                                          QStringLiteral("Is a directory"))}));
        QCOMPARE(storedTime(), QByteArray("00:00:00"));
        QCOMPARE(engine_->endProgramCalls, 1);
    }

    void theTimeIsKeptOnceAMinuteOfTheCall()
    {
        callUp(true, "00:00:00");
        QStringList warnings;
        static QStringList* captured = nullptr;
        captured = &warnings;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
                captured->append(text);
            });
        ConnectionTimeKeeper keeper(engine_->programDir());
        keeper.ConnectionTimeShown("00:00:59");
        QCOMPARE(storedTime(), QByteArray("00:00:00"));
        keeper.ConnectionTimeShown("00:01:00");
        QCOMPARE(storedTime(), QByteArray("00:01:00"));
        keeper.ConnectionTimeShown("00:01:59");
        QCOMPARE(storedTime(), QByteArray("00:01:00"));
        keeper.ConnectionTimeShown("00:02:00");
        QCOMPARE(storedTime(), QByteArray("00:02:00"));

        // A store that fails is logged once; the next minute tries again.
        QVERIFY(QDir().mkpath(engine_->dataPath("datatemp.dat")));
        keeper.ConnectionTimeShown("00:03:00");
        keeper.ConnectionTimeShown("00:04:00");
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings.first().contains(QLatin1String("Is a directory")));
        QVERIFY(QDir(engine_->dataPath("datatemp.dat")).removeRecursively());
        keeper.ConnectionTimeShown("10:05:00");
        qInstallMessageHandler(previous);
        QCOMPARE(storedTime(), QByteArray("10:05:00"));
        QCOMPARE(keeper.stores(), 3);
    }
};

QTEST_MAIN(TestDisconnect)
#include "test_disconnect.moc"
