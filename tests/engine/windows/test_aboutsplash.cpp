// The splash screen's hand-over and the about box: credits that close the box once they have
// scrolled past, "Exit", the focus rule of the credits and the product link.

#include "engine/tellaranengine.h"
#include "engine/windows/form8.h"
#include "engine/windows/frmsplash.h"
#include "engine/windows/twips.h"
#include "tests/support/controls.h"
#include "tests/support/fakeengine.h"
#include "tests/support/windowcheck.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

using namespace tellaran;
using namespace tellaran::testing;

namespace {

// Records what the mode window was asked to do, in order.
class ModeWindowEngine : public FakeEngine
{
public:
    void showModeWindow() override
    {
        steps.append(QStringLiteral("show"));
        FakeEngine::showModeWindow();
    }
    void hideModeWindow() override
    {
        steps.append(QStringLiteral("hide"));
        FakeEngine::hideModeWindow();
    }
    QStringList steps;
};

// Records the documents opened instead of starting a viewer.
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

std::unique_ptr<TellaranEngine> makeEngine(const QString& dir)
{
    TellaranEngine::Options options;
    options.programDir = dir;
    options.channelPort = freeTcpPort();
    options.messageBoxes = std::make_shared<ScriptedMessageBoxes>();
    options.onEnd = [] {};
    return std::make_unique<TellaranEngine>(std::move(options));
}

} // namespace

class TestAboutSplash : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splashHandsOverAfterTwoSeconds();
    void splashAfterFirstRunLeavesTheModeWindowHidden();
    void creditsCloseTheBoxOnce120TwipsPast();
    void exitAndANewBoxFromTheTop();
    void focusNeverStaysInTheCredits();
    void linksOpenTheUserGuide();
    void keyboardAndScreenReaders();
};

void TestAboutSplash::splashHandsOverAfterTwoSeconds()
{
    ModeWindowEngine engine;
    QPointer<frmSplash> splash = new frmSplash(engine);
    QElapsedTimer clock;
    clock.start();
    splash->show();
    QVERIFY(splash->Timer1.isActive());

    QVERIFY(!QTest::qWaitFor([&] { return !engine.steps.isEmpty(); }, 1900));
    QVERIFY(splash->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!engine.steps.isEmpty(), 2000);
    QVERIFY(clock.elapsed() >= 2000);
    QCOMPARE(engine.steps, QStringList{QStringLiteral("show")});
    QVERIFY(engine.modeWindowVisible);
    QTRY_VERIFY(!splash);
}

void TestAboutSplash::splashAfterFirstRunLeavesTheModeWindowHidden()
{
    ModeWindowEngine engine;
    engine.installationFlag = true;
    QPointer<frmSplash> splash = new frmSplash(engine);
    splash->show();
    splash->Timer1_Timer();
    QCOMPARE(engine.steps, (QStringList{QStringLiteral("show"), QStringLiteral("hide")}));
    QVERIFY(!splash->Timer1.isActive());
    QTRY_VERIFY(!splash);
}

void TestAboutSplash::creditsCloseTheBoxOnce120TwipsPast()
{
    FakeEngine engine;
    QPointer<Form8> box = new Form8(engine);
    box->show();
    QVERIFY(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(box->Timer2.interval(), 15);
    QVERIFY(box->Timer2.isActive());
    box->Timer2.stop();
    auto* text = control<QPlainTextEdit>(box, "Text1");
    QVERIFY(text->toPlainText().contains(QStringLiteral("Created by")));
    // 662 ticks leave the last line exactly 120 twips past the top: still open.
    for (int tick = 0; tick < 662; ++tick)
        box->Timer2_Timer();
    QCOMPARE(box->credits().top + box->credits().height, -120);
    QCOMPARE(text->y(), TwipsToPixels(-6620));
    QVERIFY(box->isVisible());
    box->Timer2_Timer();
    QVERIFY(!box->isVisible());
    QTRY_VERIFY(!box);
}

void TestAboutSplash::exitAndANewBoxFromTheTop()
{
    QTemporaryDir dir;
    auto engine = makeEngine(dir.path());
    engine->showAboutBox();
    QPointer<Form8> first = engine->aboutBox();
    QVERIFY(first && first->isVisible());
    first->Timer2.stop();
    for (int tick = 0; tick < 50; ++tick)
        first->Timer2_Timer();
    // Asked for again while open: the same box, still scrolled.
    engine->showAboutBox();
    QCOMPARE(engine->aboutBox(), first.data());
    QCOMPARE(first->credits().top, -500);

    QLabel* exit = control<QLabel>(first, "Label1");
    QCOMPARE(exit->text(), QStringLiteral("Exit"));
    QTest::mouseClick(exit, Qt::LeftButton);
    QVERIFY(!first->isVisible());

    engine->showAboutBox();
    Form8* second = engine->aboutBox();
    QVERIFY(second && second != first.data());
    QCOMPARE(second->credits().top, 0);
    QCOMPARE(control<QPlainTextEdit>(second, "Text1")->y(), 0);
    QTRY_VERIFY(!first);
}

void TestAboutSplash::focusNeverStaysInTheCredits()
{
    FakeEngine engine;
    Form8 box(engine);
    box.Timer2.stop();
    box.show();
    box.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    auto* text = control<QPlainTextEdit>(box, "Text1");
    QWidget* picture1 = control<QWidget>(box, "Picture1");

    text->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), picture1);

    picture1->clearFocus();
    QTest::mouseClick(text->viewport(), Qt::LeftButton, {}, QPoint(20, 40));
    QCOMPARE(QApplication::focusWidget(), picture1);
    QTest::mouseDClick(text->viewport(), Qt::LeftButton, {}, QPoint(20, 40));
    QVERIFY(!text->textCursor().hasSelection());
    QCOMPARE(QApplication::focusWidget(), picture1);
}

void TestAboutSplash::linksOpenTheUserGuide()
{
    DocumentRecorder recorder;
    FakeEngine engine;
    const QUrl guide = QUrl::fromLocalFile(engine.programDir() + QStringLiteral("/help.html"));

    frmSplash splash(engine);
    QTest::mouseClick(control<QLabel>(splash, "Label4"), Qt::LeftButton);
    Form8 box(engine);
    box.Timer2.stop();
    QTest::mouseClick(control<QLabel>(box, "Label4"), Qt::LeftButton);
    QCOMPARE(recorder.opened, (QList<QUrl>{guide, guide}));
}

// Both windows walked; the links and "Exit" are buttons for the keyboard, and Escape closes
// the about box.
void TestAboutSplash::keyboardAndScreenReaders()
{
    DocumentRecorder recorder;
    FakeEngine engine;
    frmSplash splash(engine);
    splash.Timer1.stop();
    splash.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));
    QStringList problems = WindowProblems(splash);
    QTest::keyClick(control<QLabel>(splash, "Label4"), Qt::Key_Space);
    QCOMPARE(recorder.opened.size(), 1);

    QPointer<Form8> box = new Form8(engine);
    box->Timer2.stop();
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box));
    problems += WindowProblems(*box);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    QCOMPARE(QAccessible::queryAccessibleInterface(control<QLabel>(box, "Label4"))->role(),
             QAccessible::Link);
    QTest::keyClick(box, Qt::Key_Escape);
    QTRY_VERIFY(box.isNull());
}

QTEST_MAIN(TestAboutSplash)
#include "test_aboutsplash.moc"
