#include "engine/settings/form7.h"
#include "tests/support/fakeengine.h"
#include "tests/support/windowcheck.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <optional>

using namespace tellaran;
using tellaran::testing::FakeEngine;
using tellaran::testing::WindowProblems;

namespace {

// The delivered file with a given speaker volume, dial values and time.
QByteArray settingsFile(const QByteArray& volume, const QByteArray& pulse, const QByteArray& tone,
                        const QByteArray& only56k, const QByteArray& time = "00:00:00")
{
    return "\" " + volume + "\"\r\n\" 1\"\r\n\" 0\"\r\n" + pulse + "\r\n" + tone + "\r\n\" " +
           only56k +
           "\"\r\n\" 1\"\r\n\" 0\"\r\n\" 1\"\r\n\"\"\r\n\"1\"\r\n\"?\"\r\n\"1\"\r\n"
           "\"9600,n,8,1\"\r\n\"1024\"\r\n\"1024\"\r\n\"TIME\"\r\n\"" +
           time + "\"\r\n";
}

} // namespace

class TestForm7 : public QObject
{
    Q_OBJECT

    template <typename T> T* control(const char* name)
    {
        T* found = dialog_->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    void open(const QByteArray& content)
    {
        engine_.emplace();
        engine_->modeWindowVisible = true;
        engine_->writeDataFile("data.dat", content);
        dialog_ = new Form7(*engine_);
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_));
    }
    QString helpOf(QWidget* widget)
    {
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(widget, &enter);
        return control<QLabel>("Descr")->text();
    }

    std::optional<FakeEngine> engine_;
    QPointer<Form7> dialog_;

private slots:
    void cleanup()
    {
        delete dialog_.data();
        engine_.reset();
    }

    void loadHelpTextsAndVolume()
    {
        open(settingsFile("0", "#FALSE#", "#TRUE#", "1"));
        QVERIFY(!engine_->modeWindowVisible);
        QVERIFY(dialog_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(control<QLabel>("Label3")->text(), QStringLiteral("Volume :"));
        QCOMPARE(control<QLineEdit>("txtSettings")->text(), QStringLiteral("9600,n,8,1"));

        QCOMPARE(helpOf(control<QCheckBox>("Check4")),
                 QStringLiteral("Use MNP Level 5 and V.42 bis Modem compression ."));
        QCOMPARE(helpOf(control<QRadioButton>("Option1")),
                 QStringLiteral("If Tone dial is not allowed in your phone line, choose this to "
                                "dial in Pulse"));
        QCOMPARE(helpOf(control<QLineEdit>("txtOutBufferSize")),
                 QStringLiteral("Sets the size of the transmit buffer in bytes. Usually 1024 "
                                "bytes, but may exceed, according to your system."));

        dialog_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog_));
        auto* scroll = control<QScrollBar>("HScroll1");
        scroll->setFocus();
        QTRY_COMPARE(control<QLabel>("Descr")->text(),
                     QStringLiteral("Use this to change the Modem Speaker volume ( Volume : )"));
        const QPoint rightArrow(scroll->width() - 3, scroll->height() / 2);
        QTest::mouseClick(scroll, Qt::LeftButton, {}, rightArrow);
        QTest::mouseClick(scroll, Qt::LeftButton, {}, rightArrow);
        QCOMPARE(scroll->value(), 2);
        QCOMPARE(control<QLabel>("Label3")->text(), QStringLiteral("Volume : Medium"));
        QTRY_VERIFY(control<QPushButton>("Command1")->hasFocus());
        QCOMPARE(helpOf(control<QLabel>("Label3")),
                 QStringLiteral("Use this to change the Modem Speaker volume ( Volume : Medium )"));

        auto* tabs = control<QTabBar>("TabStrip1");
        QCOMPARE(tabs->tabText(1), QStringLiteral("Tellaran Properties"));
        tabs->setCurrentIndex(1);
        QVERIFY(control<QWidget>("PropertiesFrame")->isVisible());
        QVERIFY(!control<QWidget>("ModOpt")->isVisible());
    }

    void check3AndDialButtonsAreSavedNormalised()
    {
        open(settingsFile("3", "#TRUE#", "#TRUE#", "0", "01:02:03"));
        QVERIFY(control<QRadioButton>("Option2")->isChecked());
        QVERIFY(!control<QRadioButton>("Option1")->isChecked());
        auto* check3 = control<QCheckBox>("Check3");
        QVERIFY(!check3->isChecked());
        check3->click();
        QVERIFY(check3->isChecked());
        QVERIFY(engine_->boxes.boxes().isEmpty());
        check3->click();
        QVERIFY(check3->isChecked());
        QCOMPARE(engine_->boxes.texts(),
                 QStringList{"Only 56 Kbps modems are supported in this version."});

        QSignalSpy unloaded(dialog_, &Form7::closedAndUnloaded);
        QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(unloaded.size(), 1);
        QVERIFY(engine_->modeWindowVisible);
        QTRY_VERIFY(dialog_.isNull());
        QCOMPARE(engine_->readDataFile("data.dat"),
                 settingsFile("3", "#FALSE#", "#TRUE#", "1", "01:02:03"));
    }

    void cancelWritesNothing()
    {
        const QByteArray original = settingsFile("1", "#FALSE#", "#FALSE#", "1", "00:07:00");
        open(original);
        QVERIFY(!control<QRadioButton>("Option1")->isChecked());
        QVERIFY(!control<QRadioButton>("Option2")->isChecked());
        control<QLineEdit>("Phonno")->setText(QStringLiteral("5550100"));
        control<QScrollBar>("HScroll1")->setValue(3);
        QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
        QVERIFY(engine_->modeWindowVisible);
        QTRY_VERIFY(dialog_.isNull());
        QCOMPARE(engine_->readDataFile("data.dat"), original);
    }

    void refusedSavesKeepTheDialogOpen()
    {
        const QByteArray original = settingsFile("2", "#FALSE#", "#TRUE#", "1", "00:00:42");
        open(original);
        control<QLineEdit>("Phonno")->setText(QStringLiteral("555\"0100"));
        QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(engine_->boxes.boxes().size(), 1);
        QVERIFY(engine_->boxes.texts().first().contains(QLatin1String("Phone Number")));
        QVERIFY(!engine_->modeWindowVisible);

        // A temporary file that cannot be created makes the save fail.
        control<QLineEdit>("Phonno")->setText(QStringLiteral("5550100"));
        QVERIFY(QDir(engine_->programDir()).mkpath(QStringLiteral("data/datatemp.dat")));
        QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(engine_->boxes.boxes().size(), 2);
        QCOMPARE(engine_->boxes.boxes().last().icon, BoxIcon::Critical);
        QVERIFY(engine_->boxes.texts().last().contains(QLatin1String("data.dat")));
        QVERIFY(!engine_->modeWindowVisible);
        QTest::qWait(0);
        QVERIFY(!dialog_.isNull());
        QCOMPARE(engine_->readDataFile("data.dat"), original);

        // Once the obstacle is gone the same edits save, keeping the stored time.
        QVERIFY(QDir(engine_->dataPath(QStringLiteral("datatemp.dat"))).removeRecursively());
        QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
        QTRY_VERIFY(dialog_.isNull());
        const QByteArray saved = engine_->readDataFile("data.dat");
        QVERIFY(saved.contains("\r\n\"5550100\"\r\n"));
        QVERIFY(saved.endsWith("\"1024\"\r\n\"TIME\"\r\n\"00:00:42\"\r\n"));
    }

    // The line under "Comm Port" says what the number means here and follows it as it is
    // typed; it is never saved.
    void portLineFollowsTheNumber()
    {
        engine_.emplace();
        engine_->writeDataFile("ports.dat", "1,\"modem:5551\"\r\n"
                                            "2,\"/dev/tellaran-test-absent\"\r\n");
        engine_->writeDataFile("data.dat", settingsFile("2", "#FALSE#", "#TRUE#", "1"));
        const QByteArray original = engine_->readDataFile("data.dat");
        dialog_ = new Form7(*engine_);
        dialog_->show();
        auto* meaning = control<QLineEdit>("CommPortMeaning");
        auto* port = control<QLineEdit>("CommPort");
        QVERIFY(meaning->isReadOnly());
        QCOMPARE(port->text(), QStringLiteral("1"));
        QCOMPARE(meaning->text(), QStringLiteral("virtual modem, line 5551"));

        // A real device at the delivered 9600 is told what that caps; at 115200 it is not.
        port->setText(QStringLiteral("2"));
        QCOMPARE(meaning->text(), QStringLiteral("/dev/tellaran-test-absent (not present); at "
                                                 "9600 bit/s the port carries at most 960 "
                                                 "bytes/s: set 57600 or 115200 in Settings for "
                                                 "a 56k modem"));
        control<QLineEdit>("txtSettings")->setText(QStringLiteral("115200,n,8,1"));
        QCOMPARE(meaning->text(), QStringLiteral("/dev/tellaran-test-absent (not present)"));
        // No record: port n is the n-th standard serial port.
        port->setText(QStringLiteral("40"));
        QCOMPARE(meaning->text(), QStringLiteral("/dev/ttyS39 (not present)"));
        port->setText(QString());
        QVERIFY(meaning->text().startsWith(QLatin1String("no port")));

        const QString help = helpOf(port);
        QVERIFY(help.startsWith(QLatin1String("Communication Port is the port your modem")));
        QVERIFY(help.contains(QDir::toNativeSeparators(engine_->dataPath("ports.dat"))));
        QCOMPARE(helpOf(meaning), help);

        QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
        QCOMPARE(engine_->readDataFile("data.dat"), original);
    }

    // The list beside "Comm Port" sets the typed port's record in the port map at once,
    // keeping every other line; without a port number it only says so.
    void deviceListWritesThePortsRecord()
    {
        engine_.emplace();
        const QByteArray others = "1,\"modem:5552\"\r\n# Bob's line\r\n3,\"/dev/ttyACM0\"\r\n";
        engine_->writeDataFile("ports.dat", others + "2,\"/dev/tellaran-test-absent\"\r\n");
        engine_->writeDataFile("data.dat", settingsFile("2", "#FALSE#", "#TRUE#", "1"));
        dialog_ = new Form7(*engine_);
        dialog_->show();
        auto* devices = control<QComboBox>("CommPortDevice");
        auto* port = control<QLineEdit>("CommPort");
        // The virtual modem comes last, on the line the map already uses.
        QCOMPARE(devices->itemText(devices->count() - 1),
                 QStringLiteral("virtual modem, line 5552"));
        QCOMPARE(devices->currentIndex(), devices->count() - 1);
        port->setText(QStringLiteral("2"));
        QCOMPARE(devices->currentIndex(), 0);
        QTest::keyClick(devices, Qt::Key_End);
        QCOMPARE(engine_->readDataFile("ports.dat"), others + "2,\"modem:5552\"\r\n");
        QCOMPARE(control<QLineEdit>("CommPortMeaning")->text(),
                 QStringLiteral("virtual modem, line 5552"));
        QCOMPARE(port->accessibleDescription(), QStringLiteral("virtual modem, line 5552"));

        port->setText(QStringLiteral("x"));
        QTest::keyClick(devices, Qt::Key_Home);
        QTest::keyClick(devices, Qt::Key_End);
        QCOMPARE(engine_->boxes.boxes().size(), 1);
        QVERIFY(engine_->boxes.texts().first().contains(QLatin1String("port number")));
        QCOMPARE(engine_->readDataFile("ports.dat"), others + "2,\"modem:5552\"\r\n");
    }

    // Both pages walked; Enter presses "OK", Escape "Cancel".
    void keyboardAndScreenReaders()
    {
        const QByteArray original = settingsFile("1", "#FALSE#", "#TRUE#", "1");
        open(original);
        QStringList problems = WindowProblems(*dialog_);
        control<QTabBar>("TabStrip1")->setCurrentIndex(1);
        problems += WindowProblems(*dialog_);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));

        auto* phone = control<QLineEdit>("Phonno");
        phone->setText(QStringLiteral("5550199"));
        QTest::keyClick(phone, Qt::Key_Escape);
        QTRY_VERIFY(dialog_.isNull());
        QCOMPARE(engine_->readDataFile("data.dat"), original);
        QVERIFY(engine_->modeWindowVisible);

        open(original);
        control<QLineEdit>("Phonno")->setText(QStringLiteral("5550199"));
        QTest::keyClick(control<QLineEdit>("Phonno"), Qt::Key_Return);
        QTRY_VERIFY(dialog_.isNull());
        QVERIFY(engine_->readDataFile("data.dat").contains("\r\n\"5550199\"\r\n"));
    }
};

QTEST_MAIN(TestForm7)
#include "test_form7.moc"
