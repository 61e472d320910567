// The mode window: the presence test of the data files, the first-run set-up and the choice
// of call or answer mode.
#include "callstestsupport.h"
#include "engine/calls/dialer.h"
#include "engine/calls/form3.h"
#include "engine/calls/form4.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/windowcheck.h"

#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <optional>

using namespace tellaran;
using namespace tellaran::testing;

class TestModeWindow : public QObject
{
    Q_OBJECT

    std::optional<CallsEngine> engine_;
    std::optional<CallControl> calls_;

    void writeAllDataFiles()
    {
        engine_->writeSettings("00:01:02");
        engine_->writeDataFile("addresses.dat", "\"Anna\",\"0815\"\r\n");
        engine_->writeDataFile("programs.dat", "");
    }
    QStringList setupTexts()
    {
        return {"Tellaran will now install the required data files", "Installation complete",
                "Please choose your modem options and enter your phone number and comm port in "
                "the required field."};
    }

private Q_SLOTS:
    void init()
    {
        engine_.emplace();
        calls_.emplace(*engine_);
    }
    void cleanup()
    {
        calls_.reset();
        engine_.reset();
    }

    void allFilesPresentShowsTheWindowAndNoSetup()
    {
        writeAllDataFiles();
        calls_->startAtModeWindow();
        Form3& mode = calls_->form3();
        QVERIFY(calls_->isModeWindowVisible());
        QVERIFY(engine_->boxes.boxes().isEmpty());
        QVERIFY(!engine_->installation());
        QCOMPARE(engine_->settingsDialogShown, 0);
        QTest::mouseClick(control<QPushButton>(&mode, "Command3"), Qt::LeftButton);
        QCOMPARE(engine_->settingsDialogShown, 1);
        QTest::mouseClick(control<QLabel>(&mode, "Image2"), Qt::LeftButton);
        QCOMPARE(engine_->endProgramCalls, 1);
    }

    // Keyboard and screen reader: named controls, Tab to each, readable under any palette;
    // Escape does what the close picture does.
    void readableAndWorkedByKeyboard()
    {
        writeAllDataFiles();
        calls_->startAtModeWindow();
        Form3& mode = calls_->form3();
        QVERIFY(QTest::qWaitForWindowExposed(&mode));
        VERIFY_NO_WINDOW_PROBLEMS(mode);
        QTest::keyClick(&mode, Qt::Key_Escape);
        QCOMPARE(engine_->endProgramCalls, 1);
    }

    void setupCreatesOnlyWhatIsMissing()
    {
        // Only the program list is missing: the phone book survives the set-up.
        engine_->writeSettings("00:01:02");
        engine_->writeDataFile("addresses.dat", "\"Anna\",\"0815\"\r\n");
        const QByteArray settings = engine_->readDataFile("data.dat");
        calls_->startAtModeWindow();
        QCOMPARE(engine_->boxes.texts(), setupTexts());
        QCOMPARE(engine_->boxes.boxes().first().title, QStringLiteral("Tellaran Setup"));
        QCOMPARE(engine_->settingsDialogShown, 2);
        QVERIFY(engine_->installation());
        QVERIFY(calls_->isForm3Loaded());
        QVERIFY(!calls_->isModeWindowVisible());
        QVERIFY(QFile::exists(engine_->dataPath("programs.dat")));
        QCOMPARE(engine_->readDataFile("addresses.dat"), QByteArray("\"Anna\",\"0815\"\r\n"));
        QCOMPARE(engine_->readDataFile("data.dat"), settings);

        // The settings dialog brings the hidden window back without a new presence test.
        engine_->boxes.clear();
        calls_->showModeWindow();
        QVERIFY(calls_->isModeWindowVisible());
        QVERIFY(engine_->boxes.boxes().isEmpty());
    }

    void missingSettingsAreCreatedOnce()
    {
        QVERIFY(QDir(engine_->dataPath(QString())).removeRecursively());
        calls_->startAtModeWindow();
        QCOMPARE(engine_->boxes.texts(), setupTexts());
        const SettingsFile settings(engine_->programDir());
        QCOMPARE(settings.LoadSettings(), DeliveredSettings());
        QCOMPARE(settings.ReadStoredTime(), QByteArray("00:00:00"));

        // The next start finds everything.
        calls_.reset();
        engine_->boxes.clear();
        calls_.emplace(*engine_);
        calls_->startAtModeWindow();
        QVERIFY(engine_->boxes.boxes().isEmpty());
    }

    void fileThatCannotBeCreatedIsNamed()
    {
        engine_->writeSettings("00:01:02");
        engine_->writeDataFile("addresses.dat", "");
        // A link into a folder that does not exist: the file is missing and cannot be made.
        QVERIFY(QFile::link(engine_->programDir() + "/no-such-folder/programs.dat",
                            engine_->dataPath("programs.dat")));
        calls_->startAtModeWindow();
        const QStringList texts = engine_->boxes.texts();
        QCOMPARE(texts.size(), 3);
        QVERIFY2(texts[1].contains("programs.dat") && texts[1].contains("could not be created"),
                 qPrintable(texts[1]));
        QCOMPARE(engine_->boxes.boxes()[1].icon, BoxIcon::Critical);
        QVERIFY(!texts.contains("Installation complete"));
        QCOMPARE(texts.last(), setupTexts().last());
    }

    void choosingAModeUnloadsTheWindow()
    {
        writeAllDataFiles();
        calls_->startAtModeWindow();
        QPointer<Form3> first = &calls_->form3();
        control<QRadioButton>(first, "Option1")->click();
        QVERIFY(calls_->isDialerVisible());
        QVERIFY(!calls_->isForm3Loaded());
        QTRY_VERIFY(first.isNull());

        // Loaded afresh, the window checks the files again.
        QFile::remove(engine_->dataPath("programs.dat"));
        calls_->showModeWindow();
        QCOMPARE(engine_->boxes.texts(), setupTexts());

        PseudoTerminal pty;
        QVERIFY(pty.isValid());
        engine_->writeDataFile("ports.dat", pty.portMapRecord(1));
        QPointer<Form3> second = &calls_->form3();
        control<QRadioButton>(second, "Option2")->click();
        QVERIFY(calls_->isAnswerWindowVisible());
        QVERIFY(!calls_->isForm3Loaded());
        QTRY_VERIFY(second.isNull());
    }
};

QTEST_MAIN(TestModeWindow)
#include "test_modewindow.moc"
