// Dialing: the dial command on the port, the dialing window and its details, and the calls
// that cannot start.
#include "callstestsupport.h"
#include "engine/calls/dialer.h"
#include "engine/calls/form6.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/windowcheck.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <optional>

using namespace tellaran;
using namespace tellaran::testing;

class TestDialing : public QObject
{
    Q_OBJECT

    std::optional<CallsEngine> engine_;
    std::optional<CallControl> calls_;

    void start(bool recordingPort)
    {
        engine_.emplace(recordingPort);
        calls_.emplace(*engine_);
        calls_->showDialer();
    }
    void dial(const QString& number)
    {
        control<QLineEdit>(&calls_->dialer(), "Text1")->setText(number);
        QTest::mouseClick(control<QPushButton>(&calls_->dialer(), "Command1"), Qt::LeftButton);
    }

private Q_SLOTS:
    void cleanup()
    {
        calls_.reset();
        engine_.reset();
    }

    void theDialCommandIsSentAsTyped()
    {
        start(false);
        PseudoTerminal pty;
        QVERIFY(pty.isValid());
        engine_->writeDataFile("ports.dat", pty.portMapRecord(1));
        dial("0815");
        QTRY_COMPARE(pty.received(), QByteArray("ATD0815\r\n"));
        QVERIFY(!calls_->isDialerVisible());
        QVERIFY(calls_->isDialingWindowVisible());
        Form6& dialing = calls_->form6();
        QCOMPARE(control<QLabel>(&dialing, "Label2")->text(), "Dialing...");

        // A failed call brings the dialer back with its number; letters go out unchanged.
        calls_->returnToDialer();
        QVERIFY(calls_->isDialerVisible());
        QVERIFY(!calls_->isForm6Loaded());
        QCOMPARE(calls_->dialer().numberText(), "0815");
        dial("T 0815-ab");
        QTRY_COMPARE(pty.received(), QByteArray("ATD0815\r\nATDT 0815-ab\r\n"));
    }

    void anOpenPortIsNotReopened()
    {
        start(true);
        engine_->modemPort().setPortOpen(true);
        dial("0815");
        QCOMPARE(engine_->portLog, QStringList({"open", "write ATD0815\r\n"}));
    }

    void detailsToggle()
    {
        start(true);
        dial("1");
        QPointer<Form6> dialing = &calls_->form6();
        auto* details = control<QPushButton>(dialing, "Command1");
        QCOMPARE(dialing->height() * 15, 1335);
        QCOMPARE(details->text(), "Details >>");
        details->click();
        QCOMPARE(dialing->height() * 15, 2535);
        QCOMPARE(details->text(), "<< Details");
        details->click();
        QCOMPARE(dialing->height() * 15, 1335);
        QCOMPARE(details->text(), "Details >>");
        // Any other height expands.
        dialing->resize(dialing->width(), 120);
        details->click();
        QCOMPARE(dialing->height() * 15, 2535);

        // The next call gets a fresh, collapsed window.
        calls_->returnToDialer();
        QTRY_VERIFY(dialing.isNull());
        dial("1");
        QCOMPARE(calls_->form6().height() * 15, 1335);
        QCOMPARE(control<QPushButton>(&calls_->form6(), "Command1")->text(), "Details >>");
    }

    void aModemThatNeverAnswersIsHungUp()
    {
        start(true);
        engine_->modemPort().setDTREnable(true);
        calls_->setDialWatchdogInterval(1000);
        dial("0815");
        QTest::qWait(500);
        QVERIFY(calls_->isDialingWindowVisible());
        QVERIFY(engine_->boxes.boxes().isEmpty());

        // Past the watchdog: DTR dropped, the port closed, a box, the dialer with its number.
        QTRY_VERIFY_WITH_TIMEOUT(calls_->isDialerVisible(), 5000);
        QCOMPARE(engine_->portLog, QStringList({"open", "write ATD0815\r\n", "dtr off", "close"}));
        QCOMPARE(engine_->boxes.texts(),
                 QStringList{"The modem gave no answer to the dial command."});
        QVERIFY(!calls_->isForm6Loaded());
        QCOMPARE(calls_->dialer().numberText(), "0815");

        // The next call raises DTR again; an answer, or a failure, stops the watchdog.
        dial("0815");
        QVERIFY(engine_->modemPort().DTREnable());
        QCOMPARE(engine_->portLog.mid(4), QStringList({"open", "write ATD0815\r\n"}));
        QVERIFY(calls_->dialWatchdog().isActive());
        calls_->hideDialingWindow();
        QVERIFY(!calls_->dialWatchdog().isActive());
        calls_->returnToDialer();
        dial("0815");
        QVERIFY(calls_->dialWatchdog().isActive());
        calls_->returnToDialer();
        QVERIFY(!calls_->dialWatchdog().isActive());
        QCOMPARE(engine_->boxes.boxes().size(), 1);
    }

    // Every other test shortens it: here it runs as delivered, a minute and a half.
    void theWatchdogRunsNinetySeconds()
    {
        start(true);
        dial("0815");
        QVERIFY(calls_->dialWatchdog().isActive());
        QCOMPARE(calls_->dialWatchdog().interval(), 90000);
        const int left = calls_->dialWatchdog().remainingTime();
        // A coarse timer keeps within 5 %.
        QVERIFY2(left > 85500 && left <= 94500, qPrintable(QString::number(left)));
        QTest::qWait(300);
        QVERIFY(calls_->isDialingWindowVisible());
        QVERIFY(calls_->dialWatchdog().remainingTime() <= left - 250);
    }

    void anEmptyNumberIsRefused()
    {
        start(true);
        dial(QString());
        QCOMPARE(engine_->boxes.boxes().size(), 1);
        QVERIFY(calls_->isDialerVisible());
        QVERIFY(!calls_->isForm6Loaded());
        QCOMPARE(engine_->modemPortReached, 0);
    }

    void aPortThatCannotBeOpenedReturnsToTheDialer()
    {
        start(false);
        engine_->writeDataFile("ports.dat", "1,\"/nonexistent/tty-modem\"\r\n");
        dial("0815");
        QCOMPARE(engine_->boxes.boxes().size(), 1);
        QVERIFY(engine_->boxes.texts().first().contains("/nonexistent/tty-modem"));
        QVERIFY(calls_->isDialerVisible());
        QVERIFY(!calls_->isForm6Loaded());
        QCOMPARE(calls_->dialer().numberText(), "0815");
    }

    // Enter in the number field places the call, as "Go !" does; the dialing window is walked
    // as a screen reader and the keyboard meet it, and its Escape ends the program as its
    // close picture does.
    void keyboardAndScreenReaders()
    {
        start(true);
        auto* number = control<QLineEdit>(&calls_->dialer(), "Text1");
        number->setText("0815");
        QTest::keyClick(number, Qt::Key_Return);
        QCOMPARE(engine_->portLog, QStringList({"open", "write ATD0815\r\n"}));
        Form6& dialing = calls_->form6();
        QVERIFY(QTest::qWaitForWindowExposed(&dialing));
        VERIFY_NO_WINDOW_PROBLEMS(dialing);
        QTest::keyClick(&dialing, Qt::Key_Escape);
        QCOMPARE(engine_->endProgramCalls, 1);
    }
};

QTEST_MAIN(TestDialing)
#include "test_dialing.moc"
