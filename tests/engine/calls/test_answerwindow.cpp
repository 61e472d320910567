// The answer window: opening the port, the answer command, the log, the ring and connect
// updates, the scrolling strip, and the ways it ends.
#include "callstestsupport.h"
#include "engine/calls/form4.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/windowcheck.h"

#include <QLabel>
#include <QTest>
#include <optional>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

QImage pictureOf(Form4& window, const char* name)
{
    return control<QLabel>(&window, name)->pixmap().toImage();
}

} // namespace

class TestAnswerWindow : public QObject
{
    Q_OBJECT

    std::optional<CallsEngine> engine_;
    std::optional<CallControl> calls_;

    void start(bool recordingPort)
    {
        engine_.emplace(recordingPort);
        calls_.emplace(*engine_);
    }

private Q_SLOTS:
    void cleanup()
    {
        calls_.reset();
        engine_.reset();
    }

    void waitsForACallAndFollowsIt()
    {
        start(false);
        PseudoTerminal pty;
        QVERIFY(pty.isValid());
        engine_->writeDataFile("ports.dat", pty.portMapRecord(1));
        calls_->showAnswerWindow();
        Form4& answer = calls_->form4();
        QVERIFY(calls_->isAnswerWindowVisible());
        QVERIFY(engine_->isStatusWindowLoaded());
        QVERIFY(engine_->modemPort().DTREnable());
        QTRY_COMPARE(pty.received(), QByteArray("ATE1S0=1\r\n"));
        QCOMPARE(logLines(&answer), QStringList({"Port Open...", "Waiting For Connection..."}));
        QCOMPARE(control<QLabel>(&answer, "Label1")->text(), "Waiting For Connection");
        QCOMPARE(pictureOf(answer, "Image1"), pictureOf(answer, "Image4"));
        QVERIFY(answer.Timer2.isActive());

        // Rings repeat; the log notes the first only.
        calls_->showAnswerWindowRinging();
        calls_->showAnswerWindowRinging();
        QCOMPARE(pictureOf(answer, "Image1"), pictureOf(answer, "Image5"));
        QCOMPARE(control<QLabel>(&answer, "Label1")->text(), "Connecting...");
        QCOMPARE(logLines(&answer).mid(2), QStringList({"Connecting..."}));

        // The answer fails: logged, and back to waiting; the next ring is noted again.
        calls_->showAnswerWindowFailed("NO CARRIER");
        QCOMPARE(control<QLabel>(&answer, "Label1")->text(), "Waiting For Connection");
        QCOMPARE(pictureOf(answer, "Image1"), pictureOf(answer, "Image4"));
        QCOMPARE(logLines(&answer).mid(3),
                 QStringList({"Answer failed: NO CARRIER", "Waiting For Connection..."}));
        calls_->showAnswerWindowRinging();
        QCOMPARE(logLines(&answer).last(), "Connecting...");

        calls_->closeAnswerWindowOnConnect(true);
        QCOMPARE(logLines(&answer).last(), "Connected");
        QCOMPARE(control<QLabel>(&answer, "Label1")->text(), "Connected");
        QVERIFY(!calls_->isAnswerWindowVisible());
        QVERIFY(!answer.Timer2.isActive());
        QCOMPARE(engine_->endProgramCalls, 0);
    }

    void anOpenPortIsNotReopenedAndDtrComesFirst()
    {
        start(true);
        engine_->modemPort().setPortOpen(true);
        calls_->showAnswerWindow();
        QCOMPARE(engine_->portLog, QStringList({"open", "dtr on", "write ATE1S0=1\r\n"}));
        QCOMPARE(logLines(&calls_->form4()),
                 QStringList({"Port Open...", "Waiting For Connection..."}));
    }

    // Commands the modem did not know at start-up are harmless, and the log says which.
    void startUpRefusalsAreLogged()
    {
        start(true);
        engine_->startUpRefusals = {"AT%C3", "ATL 2"};
        calls_->showAnswerWindow();
        QCOMPARE(logLines(&calls_->form4()),
                 QStringList({"Port Open...", "The modem did not accept AT%C3",
                              "The modem did not accept ATL 2", "Waiting For Connection..."}));
        QCOMPARE(engine_->callCommands, QByteArrayList{"ATE1S0=1\r\n"});
    }

    void stripScrollsWithoutAGap()
    {
        start(true);
        Form4& answer = calls_->form4();
        answer.Timer2.stop();
        const auto adjoining = [](const MarqueeStrip& s) {
            const int first = std::min(s.image6Left, s.image7Left);
            const int second = std::max(s.image6Left, s.image7Left);
            return second - first == 1815 && first <= 0 && second <= 1815;
        };
        // 2200 twips a second, whatever the tick.
        QCOMPARE(MarqueeStepTwips * 1000 / answer.Timer2.interval(), 2200);
        for (int tick = 1; tick <= 55; ++tick) {
            answer.MarqueeStep();
            QVERIFY2(adjoining(answer.strip()), qPrintable(QString::number(tick)));
            if (tick == 13) { // just before the first half leaves the frame entirely
                QCOMPARE(answer.strip().image6Left, -1716);
                QCOMPARE(answer.strip().image7Left, 99);
            }
            if (tick == 14) { // and just after: it goes on behind the second
                QCOMPARE(answer.strip().image6Left, 1782);
                QCOMPARE(answer.strip().image7Left, -33);
                QCOMPARE(control<QLabel>(&answer, "Image6")->x(), 119);
                QCOMPARE(control<QLabel>(&answer, "Image7")->x(), -2);
            }
        }
        // Both halves' width four times over: back where they started.
        QCOMPARE(answer.strip().image6Left, 0);
        QCOMPARE(answer.strip().image7Left, 1815);
    }

    void closingEndsTheProgram()
    {
        start(true);
        calls_->showAnswerWindow();
        QTest::mouseClick(control<QLabel>(&calls_->form4(), "Image2"), Qt::LeftButton);
        QCOMPARE(engine_->endProgramCalls, 1);
        calls_->form4().close();
        QCOMPARE(engine_->endProgramCalls, 2);

        // Once the program is ending, closing the window has nothing more to do.
        calls_->shutDown();
        calls_->form4().close();
        QCOMPARE(engine_->endProgramCalls, 2);
    }

    void aPortThatCannotBeOpenedIsReported()
    {
        start(false);
        engine_->writeDataFile("ports.dat", "1,\"/nonexistent/tty-modem\"\r\n");
        calls_->showAnswerWindow();
        Form4& answer = calls_->form4();
        QCOMPARE(engine_->boxes.boxes().size(), 1);
        const auto box = engine_->boxes.boxes().first();
        QCOMPARE(box.icon, BoxIcon::Critical);
        QVERIFY2(box.text.contains("/nonexistent/tty-modem") && box.text.contains("port 1"),
                 qPrintable(box.text));
        QCOMPARE(logLines(&answer).first(), "Port could not be opened...");
        QCOMPARE(control<QLabel>(&answer, "Label1")->text(), "Port Not Open");
        QVERIFY(!answer.Timer2.isActive());
        QVERIFY(!engine_->modemPort().PortOpen());
    }

    void keyboardAndScreenReaders()
    {
        start(true);
        calls_->showAnswerWindow();
        Form4& answer = calls_->form4();
        QVERIFY(QTest::qWaitForWindowExposed(&answer));
        VERIFY_NO_WINDOW_PROBLEMS(answer);
        QTest::keyClick(&answer, Qt::Key_Escape);
        QCOMPARE(engine_->endProgramCalls, 1);
    }
};

QTEST_MAIN(TestAnswerWindow)
#include "test_answerwindow.moc"
