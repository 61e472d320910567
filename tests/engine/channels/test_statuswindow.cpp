#include "engine/channels/form2.h"
#include "engine/link/form1.h"
#include "tests/support/fakeengine.h"
#include "tests/support/windowcheck.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QUrl>
#include <memory>

using namespace tellaran;
using tellaran::testing::FakeEngine;
using tellaran::testing::WindowProblems;

namespace {

// Records the documents the status window opens instead of starting a viewer.
class DocumentRecorder : public QObject
{
    Q_OBJECT
public:
    DocumentRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~DocumentRecorder() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

// A status window on a stand-in engine, with a clock the test sets.
struct Window
{
    Window()
    {
        engine.statusWindowFactory = [](Engine& e) { return std::make_shared<Form2>(e); };
        form = &engine.statusWindow();
        form->setClock([this] { return now; });
    }
    template <typename T> T* control(const char* name) const
    {
        return form->findChild<T*>(QLatin1String(name));
    }
    QString text(const char* name) const { return control<QLabel>(name)->text(); }
    int pixelTop(const char* name) const { return control<QWidget>(name)->y(); }
    void speedSecond(qint64 characters)
    {
        form->totaldata = characters;
        form->UpdateSpeed();
    }

    FakeEngine engine;
    Form2* form = nullptr;
    QDateTime now = QDateTime(QDate(2024, 3, 1), QTime(12, 0));
};

} // namespace

class TestStatusWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadPlacesTheBarAndStartsTheTimers();
    void speedLine_data();
    void speedLine();
    void slowerSecondDropsTheBar();
    void connectionClock_data();
    void connectionClock();
    void clockRewritesOnlyOnChange();
    void autoScrollAlternatesThePairs();
    void statusMenuChecksOneItemAndStopsTheAlternation();
    void outflowArrowFollowsTheDrain();
    void buttonsAndCaptionsReachTheEngine();
    void rightButtonPopsUpTheStatusMenu();
    void keyboardAndScreenReaders();
};

void TestStatusWindow::loadPlacesTheBarAndStartsTheTimers()
{
    Window window;
    Form2& form = *window.form;
    QCOMPARE(form.pos(), QPoint(0, 0));
    QVERIFY(form.windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
    QVERIFY(!form.isVisible() && !form.showdata);
    QVERIFY(form.Timer1.isActive() && form.SpdTimer.isActive() && !form.Timer2.isActive());
    QCOMPARE(form.connectedAtLine(), QString("Connected at : 00:00:00"));
    QVERIFY(window.pixelTop("Label8") > form.height() && window.pixelTop("Label9") > form.height());
    // Timer5's one tick at load writes the idle speed, then it rests.
    QTRY_COMPARE(window.text("Label1"), QString("Speed : 00Kbps"));
    QVERIFY(!form.Timer5.isActive());

    form.t1 = QDateTime(QDate(2024, 3, 1), QTime(14, 3, 7));
    form.ShowConnectedAt();
    QCOMPARE(window.text("Label8"), QString("Connected at : 14:03:07"));
}

void TestStatusWindow::speedLine_data()
{
    QTest::addColumn<qint64>("characters");
    QTest::addColumn<QString>("line");
    QTest::newRow("1500") << qint64(1500) << "Speed : 12Kbps";
    QTest::newRow("100") << qint64(100) << "Speed : 00Kbps";
    QTest::newRow("20000") << qint64(20000) << "Speed : 160Kbps";
}

void TestStatusWindow::speedLine()
{
    QFETCH(qint64, characters);
    QFETCH(QString, line);
    Window window;
    window.speedSecond(characters);
    QCOMPARE(window.text("Label1"), line);
    QCOMPARE(window.form->totaldata, 0);
    QCOMPARE(window.control<QProgressBar>("SpeedBar")->value(), int(characters));
}

// A slower second drops the bar to 0 and the line to 00. After the minute's reset of the
// peak, that second also sets the bar's maximum below its value.
void TestStatusWindow::slowerSecondDropsTheBar()
{
    Window window;
    auto* bar = window.control<QProgressBar>("SpeedBar");
    window.speedSecond(5000);
    QCOMPARE(window.text("Label1"), QString("Speed : 40Kbps"));
    window.form->ResetSpeedPeak();
    window.speedSecond(100);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 100);
    QVERIFY(window.form->Timer5.isActive());
    QTRY_VERIFY(!window.form->Timer5.isActive());
    QCOMPARE(bar->value(), 0);
    QCOMPARE(window.text("Label1"), QString("Speed : 00Kbps"));
}

void TestStatusWindow::connectionClock_data()
{
    QTest::addColumn<QDateTime>("connectedAt");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("time");
    const QDateTime noon(QDate(2024, 3, 1), QTime(12, 0));
    QTest::newRow("3725 s") << noon << noon.addSecs(3725) << "01:02:05";
    QTest::newRow("across midnight") << QDateTime(QDate(2024, 3, 1), QTime(23, 59, 30))
                                     << QDateTime(QDate(2024, 3, 2), QTime(0, 1, 35)) << "00:02:05";
    QTest::newRow("over a day") << noon << noon.addSecs(25 * 3600 + 1) << "25:00:01";
}

void TestStatusWindow::connectionClock()
{
    QFETCH(QDateTime, connectedAt);
    QFETCH(QDateTime, now);
    QFETCH(QString, time);
    Window window;
    window.engine.connected = true;
    window.form->t1 = connectedAt;
    window.now = now;
    window.form->UpdateConnectionClock();
    QCOMPARE(window.text("Label9"), "Time connected : " + time);
    QCOMPARE(window.engine.dialerTime, time);
}

void TestStatusWindow::clockRewritesOnlyOnChange()
{
    Window window;
    Form2& form = *window.form;
    form.Timer1.stop();
    form.t1 = window.now;
    window.now = window.now.addSecs(5);
    form.UpdateConnectionClock();
    QCOMPARE(window.engine.dialerTime, QString("00:00:00")); // not connected: no tick

    window.engine.connected = true;
    form.UpdateConnectionClock();
    QCOMPARE(window.engine.dialerTime, QString("00:00:05"));
    window.engine.dialerTime = "untouched";
    form.UpdateConnectionClock();
    QCOMPARE(window.engine.dialerTime, QString("untouched"));
    window.now = window.now.addSecs(1);
    form.UpdateConnectionClock();
    QCOMPARE(window.engine.dialerTime, QString("00:00:06"));
}

void TestStatusWindow::autoScrollAlternatesThePairs()
{
    Window window;
    Form2& form = *window.form;
    form.SwapStatusLines();
    QCOMPARE(form.lineTops(), (StatusLineTops{2100, 2300, 120, 300}));
    QCOMPARE(window.pixelTop("Label9"), 20);
    QCOMPARE(window.pixelTop("SpeedBar"), 140);
    form.SwapStatusLines();
    QCOMPARE(form.lineTops(), (StatusLineTops{120, 300, 2100, 2300}));

    form.Timer2.setInterval(5);
    form.StartAutoScroll();
    QTRY_COMPARE(form.lineTops().Label8, 120);
    QTRY_COMPARE(form.lineTops().SpeedBar, 120);
}

void TestStatusWindow::statusMenuChecksOneItemAndStopsTheAlternation()
{
    Window window;
    SerialEnvironment environment;
    environment.portMapFile = window.engine.dataPath("ports.dat");
    environment.exchangeDir = window.engine.programDir() + "/exchange";
    Form1 form1(window.engine, environment);
    Form2& form = *window.form;
    const auto checked = [&form1] {
        return QList<bool>{form1.sspd->isChecked(), form1.cstats->isChecked(),
                           form1.sascr->isChecked()};
    };
    QCOMPARE(form1.cstat.title(), QString("Status"));
    QCOMPARE(checked(), (QList<bool>{true, false, false}));

    form1.sascr->trigger();
    QCOMPARE(checked(), (QList<bool>{false, false, true}));
    QVERIFY(form.Timer2.isActive());
    form.SwapStatusLines();
    form1.sspd->trigger();
    QCOMPARE(checked(), (QList<bool>{true, false, false}));
    QVERIFY(!form.Timer2.isActive());
    QCOMPARE(form.lineTops(), (StatusLineTops{120, 300, 2100, 2300}));
    // A click on the checked item leaves it checked.
    form1.sspd->trigger();
    QCOMPARE(checked(), (QList<bool>{true, false, false}));

    form1.sascr->trigger();
    form1.cstats->trigger();
    QCOMPARE(checked(), (QList<bool>{false, true, false}));
    QVERIFY(!form.Timer2.isActive());
    QCOMPARE(form.lineTops(), (StatusLineTops{2100, 2300, 120, 300}));

    // The modem window's received blocks light the incoming arrow.
    Q_EMIT form1.link().receiveStarted();
    QCOMPARE(form.inflowTop(), 130);
    QCOMPARE(window.pixelTop("inflow"), 9);
    Q_EMIT form1.link().receiveFinished();
    Q_EMIT form1.link().receiveStarted(); // the next block at once: no flicker
    Q_EMIT form1.link().receiveFinished();
    QCOMPARE(form.inflowTop(), 130);
    QTRY_COMPARE(form.inflowTop(), 2300);
}

void TestStatusWindow::outflowArrowFollowsTheDrain()
{
    Window window;
    Form2& form = *window.form;
    Q_EMIT form.drain().drainStarted();
    QCOMPARE(form.outflowTop(), 280);
    QCOMPARE(window.pixelTop("outflow"), 19);
    // A drain that follows at once keeps it in view; a pause takes it away.
    Q_EMIT form.drain().drainFinished();
    Q_EMIT form.drain().drainStarted();
    QCOMPARE(form.outflowTop(), 280);
    Q_EMIT form.drain().drainFinished();
    QCOMPARE(form.outflowTop(), 280);
    QTRY_COMPARE(form.outflowTop(), 2300);
    QVERIFY(window.pixelTop("outflow") > form.height());
}

void TestStatusWindow::buttonsAndCaptionsReachTheEngine()
{
    Window window;
    DocumentRecorder documents;
    FakeEngine& engine = window.engine;
    window.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.form));
    const struct
    {
        const char* button;
        const char* caption;
        QString text;
        const int& calls;
    } buttons[] = {{"Button1", "Label2", "Run", engine.programsMenuToggles},
                   {"Button2", "Label3", "Send Message", engine.sendMessageWindowShown},
                   {"Button3", "Label4", "About", engine.aboutBoxShown},
                   {"Button5", "Label6", "InfoBox", engine.infoBoxToggles},
                   {"Button6", "Label7", "Disconnect", engine.disconnectCalls}};
    for (const auto& button : buttons) {
        QCOMPARE(window.text(button.caption), button.text);
        QTest::mouseClick(window.control<QWidget>(button.button), Qt::LeftButton);
        QTest::mouseClick(window.control<QWidget>(button.caption), Qt::LeftButton);
        QCOMPARE(button.calls, 2);
    }
    QCOMPARE(window.text("Label5"), QString("Help"));
    QTest::mouseClick(window.control<QWidget>("Button4"), Qt::LeftButton);
    QTest::mouseClick(window.control<QWidget>("Label5"), Qt::LeftButton);
    const QUrl help = QUrl::fromLocalFile(engine.programDir() + "/help.html");
    QCOMPARE(documents.opened, (QList<QUrl>{help, help}));

    QTest::mouseClick(window.control<QWidget>("close1"), Qt::LeftButton);
    QCOMPARE(engine.disconnectCalls, 3);
    // Only a left click acts.
    QTest::mouseClick(window.control<QWidget>("Button6"), Qt::RightButton);
    QCOMPARE(engine.disconnectCalls, 3);
}

void TestStatusWindow::rightButtonPopsUpTheStatusMenu()
{
    Window window;
    window.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.form));
    QTest::mousePress(window.control<QWidget>("Image1"), Qt::RightButton, {}, QPoint(150, 10));
    QCOMPARE(window.engine.statusMenuPopups, 1);
    // Over the lines that lie on Image1, and on the bar itself.
    auto* label1 = window.control<QWidget>("Label1");
    QTest::mousePress(window.form->windowHandle(), Qt::RightButton, {},
                      label1->geometry().center());
    QCOMPARE(window.engine.statusMenuPopups, 2);
    QTest::mousePress(window.control<QWidget>("SpeedBar"), Qt::RightButton);
    QCOMPARE(window.engine.statusMenuPopups, 3);
}

// The buttons are real buttons: named, reached by Tab, pressed by Space and Enter; Escape
// does what the close picture does.
void TestStatusWindow::keyboardAndScreenReaders()
{
    Window window;
    FakeEngine& engine = window.engine;
    window.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.form));
    VERIFY_NO_WINDOW_PROBLEMS(*window.form);
    QTest::keyClick(window.control<QWidget>("Button2"), Qt::Key_Space);
    QCOMPARE(engine.sendMessageWindowShown, 1);
    QTest::keyClick(window.control<QWidget>("Button5"), Qt::Key_Return);
    QCOMPARE(engine.infoBoxToggles, 1);
    QTest::keyClick(window.form, Qt::Key_Escape);
    QCOMPARE(engine.disconnectCalls, 1);
}

QTEST_MAIN(TestStatusWindow)
#include "test_statuswindow.moc"
