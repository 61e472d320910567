// The info box: its slide in exact twips, the statistics it cycles through, and how the
// engine brings it out (the first counter change, the info button).

#include "engine/channels/form2.h"
#include "engine/settings/form7.h"
#include "engine/settings/settingsfile.h"
#include "engine/tellaranengine.h"
#include "engine/windows/datafrm.h"
#include "engine/windows/infostatistics.h"
#include "engine/windows/twips.h"
#include "tests/support/controls.h"
#include "tests/support/fakeengine.h"
#include "tests/support/windowcheck.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QTcpSocket>
#include <QTest>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

// An engine in a temporary program folder, as after a first run.
struct RealEngine
{
    RealEngine()
    {
        QDir(dir.path()).mkpath(QStringLiteral("data"));
        SettingsFile(dir.path()).SaveSettings(DeliveredSettings());
        TellaranEngine::Options options;
        options.programDir = dir.path();
        options.channelPort = freeTcpPort();
        options.messageBoxes = std::make_shared<ScriptedMessageBoxes>();
        options.onEnd = [] {};
        engine = std::make_unique<TellaranEngine>(std::move(options));
    }
    QTemporaryDir dir;
    std::unique_ptr<TellaranEngine> engine;
};

QString shown(datafrm& box, const char* label)
{
    return control<QLabel>(box, label)->text();
}

// Display ticks until `name` shows (at most one round); its value.
QString valueOf(datafrm& box, const QString& name)
{
    for (int tick = 0; tick < 6; ++tick) {
        box.Timer4_Timer();
        if (shown(box, "Label2") == name)
            return shown(box, "Label3");
    }
    return QStringLiteral("<not shown>");
}

} // namespace

class TestInfoBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void slideInExactTwips();
    void infoButtonWhileSliding();
    void displayCyclesOnlyWhileOpen();
    void firstCounterChangeBringsThePanelOut();
    void compressionFromOpenDialogOrFile();
    void readableUnderAnyPalette();
};

void TestInfoBox::slideInExactTwips()
{
    FakeEngine engine;
    engine.statusWindowFactory = [](Engine& e) { return std::make_shared<Form2>(e); };
    engine.statusWindow().move(40, 30);
    datafrm box(engine);
    box.Timer1.stop();
    QCOMPARE(box.pos(), QPoint(40 + engine.statusWindow().width(), 30));
    QVERIFY(box.windowFlags().testFlag(Qt::WindowStaysOnTopHint) && !box.isVisible());

    // 91 twips a tick: open at the 30th, not before; each pixel width rounded from the twips,
    // the picture anchored to the right edge.
    QLabel* back = control<QLabel>(box, "Back");
    for (int tick = 1; tick <= 30; ++tick) {
        QVERIFY(!box.slide().open);
        box.Timer1_Timer();
        QCOMPARE(box.slide().width, 91 * tick);
        QCOMPARE(box.width(), TwipsToPixels(91 * tick));
        QCOMPARE(back->x() + back->width(), box.width());
    }
    QVERIFY(box.slide().open && box.isVisible() && !box.Timer1.isActive());

    bool showdata = true;
    box.Toggle(showdata);
    QVERIFY(!showdata && box.Timer2.isActive());
    box.Timer2.stop();
    for (int tick = 29; tick >= 0; --tick) {
        box.Timer2_Timer();
        QCOMPARE(box.slide().width, 91 * tick);
        QVERIFY(box.isVisible() && !box.slide().open);
    }
    // The tick that finds 0 hides the panel and ends the slide.
    box.Timer2_Timer();
    QVERIFY(!box.isVisible() && !box.slide().closing);
}

void TestInfoBox::infoButtonWhileSliding()
{
    InfoBoxSlide slide = NewInfoBoxSlide();
    for (int tick = 0; tick < 10; ++tick)
        OpeningTick(slide);
    // Pressed while opening: the opening stops at its next tick, the close goes on from the
    // width reached.
    bool showdata = true;
    ToggleInfoBox(slide, showdata);
    QVERIFY(!showdata && slide.closing);
    OpeningTick(slide);
    QVERIFY(!slide.opening && !slide.open);
    QCOMPARE(slide.width, 11 * 91);
    ClosingTick(slide);
    QCOMPARE(slide.width, 10 * 91);

    // Pressed while closing, still visible: it keeps closing.
    ToggleInfoBox(slide, showdata);
    QVERIFY(slide.closing && !slide.opening && !showdata);
}

void TestInfoBox::displayCyclesOnlyWhileOpen()
{
    FakeEngine engine;
    engine.statusWindowFactory = [](Engine& e) { return std::make_shared<Form2>(e); };
    engine.trafficCounters = {2, 1200, 3600, 0};
    engine.statusWindow().t = 64;
    datafrm box(engine);
    box.Timer1.stop();

    // Opening, the display stands still.
    box.Timer1_Timer();
    box.Timer4_Timer();
    QCOMPARE(box.step(), 0);
    QCOMPARE(shown(box, "Label2"), QString());

    while (!box.slide().open)
        box.Timer1_Timer();
    const QStringList names = {"Data channels",  "Bytes sent",  "Bytes received",
                               "File transfers", "Compression", "Average speed"};
    const QStringList values = {" 2", " 1200", " 3600", " 0", "None", " 600 bps"};
    for (int tick = 0; tick < 6; ++tick) {
        box.Timer4_Timer();
        QCOMPARE(shown(box, "Label2"), names[tick]);
        QCOMPARE(shown(box, "Label3"), values[tick]);
    }
    // The seventh tick starts again.
    box.Timer4_Timer();
    QCOMPARE(shown(box, "Label2"), names[0]);
    // The speed is a whole number, and there is none yet without connected time.
    QCOMPARE(AverageSpeedText(1, 0, 3), QStringLiteral(" 2 bps"));
    QCOMPARE(AverageSpeedText(500, 0, 0), QStringLiteral(" 0 bps"));

    // Closing, it stands still again; the step is kept for the next opening.
    bool showdata = false;
    box.Toggle(showdata);
    box.Timer2_Timer();
    box.Timer4_Timer();
    QCOMPARE(box.step(), 1);
    QCOMPARE(shown(box, "Label2"), names[0]);
}

void TestInfoBox::firstCounterChangeBringsThePanelOut()
{
    RealEngine real;
    TellaranEngine& engine = *real.engine;
    Form2& status = engine.statusWindow();
    QVERIFY(!engine.isInfoBoxLoaded());

    // A local program registers: the panel slides out by itself, though nobody asked.
    QTcpSocket program;
    program.connectToHost(QHostAddress::LocalHost, engine.channelPort());
    QVERIFY(program.waitForConnected(5000));
    program.write("<request>CHAT0001");
    QTRY_VERIFY(engine.isInfoBoxLoaded());
    datafrm& box = engine.infoBox();
    QTRY_VERIFY(box.slide().open);
    QVERIFY(!status.showdata);
    QCOMPARE(valueOf(box, QStringLiteral("Data channels")), QStringLiteral(" 1"));

    // Every local program gone: the count is back to 0.
    program.disconnectFromHost();
    QTRY_COMPARE(engine.counters().noofchan, 0);
    QCOMPARE(valueOf(box, QStringLiteral("Data channels")), QStringLiteral(" 0"));

    // The status window's "InfoBox" closes it and opens it again.
    status.show();
    QLabel* button = control<QLabel>(status, "Label6");
    QCOMPARE(button->text(), QStringLiteral("InfoBox"));
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!status.showdata);
    QTRY_VERIFY(!box.isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(status.showdata);
    QTRY_VERIFY(box.slide().open);
}

void TestInfoBox::compressionFromOpenDialogOrFile()
{
    RealEngine real;
    TellaranEngine& engine = *real.engine;
    SettingsRecord settings = DeliveredSettings();
    settings.useCompression = true;
    QVERIFY(SettingsFile(engine.programDir()).SaveSettings(settings));
    datafrm& box = engine.infoBox();
    box.Timer1.stop();
    while (!box.slide().open)
        box.Timer1_Timer();

    // From the file, without loading the dialog.
    QCOMPARE(valueOf(box, QStringLiteral("Compression")), QStringLiteral("V.42 bis, MNP Level 5"));
    QVERIFY(!engine.isForm7Loaded());

    // The open dialog's box counts, saved or not.
    engine.showSettingsDialog();
    control<QCheckBox>(engine.form7(), "Check4")->setChecked(false);
    QCOMPARE(valueOf(box, QStringLiteral("Compression")), QStringLiteral("None"));
    QVERIFY(SettingsFile(engine.programDir()).LoadSettings().useCompression);
}

// Open, at its longest value: readable, and whole, under any palette.
void TestInfoBox::readableUnderAnyPalette()
{
    FakeEngine engine;
    engine.statusWindowFactory = [](Engine& e) { return std::make_shared<Form2>(e); };
    engine.compressionTicked = true;
    datafrm box(engine);
    box.Timer1.stop();
    while (!box.slide().open)
        box.Timer1_Timer();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(valueOf(box, QStringLiteral("Compression")), QStringLiteral("V.42 bis, MNP Level 5"));
    VERIFY_NO_WINDOW_PROBLEMS(box);
}

QTEST_MAIN(TestInfoBox)
#include "test_infobox.moc"
