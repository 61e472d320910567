// The engine's first run, through its windows: the set-up installs the missing files and
// leads into the settings dialog; "OK" or "Cancel" there brings back the mode window.

#include "engine/calls/callcontrol.h"
#include "engine/calls/form3.h"
#include "engine/settings/form7.h"
#include "engine/tellaranengine.h"
#include "engine/windows/frmsplash.h"
#include "tests/support/controls.h"
#include "tests/support/fakeengine.h"
#include "tests/support/scriptedmessageboxes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTest>

using namespace tellaran;
using namespace tellaran::testing;

class TestFirstRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void settingsDialogLeadsBackToTheModeWindow();
};

void TestFirstRun::settingsDialogLeadsBackToTheModeWindow()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("data"));
    auto boxes = std::make_shared<ScriptedMessageBoxes>();
    TellaranEngine::Options options;
    options.programDir = dir.path();
    options.channelPort = freeTcpPort();
    options.messageBoxes = boxes;
    options.onEnd = [] {};
    TellaranEngine engine(std::move(options));

    // The splash screen comes first and hands over to the mode window two seconds later.
    QElapsedTimer clock;
    clock.start();
    engine.start();
    QVERIFY(engine.splashScreen() && engine.splashScreen()->isVisible());
    QVERIFY(!engine.calls().isForm3Loaded());
    QTRY_COMPARE_WITH_TIMEOUT(boxes->boxes().size(), 3, 5000);
    QVERIFY(clock.elapsed() >= 2000);
    QTRY_VERIFY(!engine.splashScreen());
    QCOMPARE(boxes->boxes().first().title, QStringLiteral("Tellaran Setup"));
    QVERIFY(engine.installation());
    for (const char* name : {"data.dat", "addresses.dat", "programs.dat"})
        QVERIFY(QFile::exists(engine.dataPath(QLatin1String(name))));
    QVERIFY(engine.calls().isForm3Loaded());
    QVERIFY(!engine.calls().isModeWindowVisible());
    QVERIFY(engine.isForm7Loaded() && engine.form7().isVisible());

    // "OK" saves and shows the mode window, which was only hidden: no second presence test.
    QTest::mouseClick(control<QPushButton>(engine.form7(), "Command1"), Qt::LeftButton);
    QTRY_VERIFY(!engine.isForm7Loaded());
    QVERIFY(engine.calls().isModeWindowVisible());
    QCOMPARE(boxes->boxes().size(), 3);

    // "Options", then "Cancel", leads back the same way.
    QTest::mouseClick(control<QPushButton>(engine.calls().form3(), "Command3"), Qt::LeftButton);
    QVERIFY(engine.form7().isVisible());
    QVERIFY(!engine.calls().isModeWindowVisible());
    QTest::mouseClick(control<QPushButton>(engine.form7(), "Command2"), Qt::LeftButton);
    QTRY_VERIFY(!engine.isForm7Loaded());
    QVERIFY(engine.calls().isModeWindowVisible());
}

QTEST_MAIN(TestFirstRun)
#include "test_first_run.moc"
