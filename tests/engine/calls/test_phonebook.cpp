// The phone book: its file, the dialer's list, the key pad, adding, deleting and the time
// field.
#include "callstestsupport.h"
#include "engine/calls/dialer.h"
#include "engine/calls/form5.h"
#include "engine/calls/phonebook.h"
#include "tests/support/windowcheck.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <optional>

using namespace tellaran;
using namespace tellaran::testing;

class TestPhoneBook : public QObject
{
    Q_OBJECT

    std::optional<CallsEngine> engine_;
    std::optional<CallControl> calls_;

    Dialer& openDialer()
    {
        calls_->showDialer();
        return calls_->dialer();
    }
    QStringList listLines(Dialer& dialer)
    {
        QStringList lines;
        auto* list = control<QListWidget>(&dialer, "List1");
        for (int row = 0; row < list->count(); ++row)
            lines << list->item(row)->text();
        return lines;
    }
    void clickRow(Dialer& dialer, int row)
    {
        auto* list = control<QListWidget>(&dialer, "List1");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }

private Q_SLOTS:
    void init()
    {
        engine_.emplace();
        calls_.emplace(*engine_);
        engine_->writeSettings("01:02:03");
    }
    void cleanup()
    {
        calls_.reset();
        engine_.reset();
    }

    void listLinesAndTheNumberField()
    {
        const QByteArray name48(40, 'N');
        const QByteArray name45(45, 'L');
        engine_->writeDataFile("addresses.dat", "\"Anna\",\"0815\"\r\n\"" + name48 +
                                                    "\",\"12345678\"\r\n\"" + name45 +
                                                    "\",\"98765\"\r\n\"Anna Maria\",\"0,1\"\r\n");
        Dialer& dialer = openDialer();
        QVERIFY(engine_->isStatusWindowLoaded());
        QCOMPARE(control<QLineEdit>(&dialer, "Text3")->text(), "01:02:03");
        const QStringList lines = listLines(dialer);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], "Anna" + QString(40, ' ') + "0815");
        QCOMPARE(lines[1], QString::fromLatin1(name48) + "12345678");
        QCOMPARE(lines[2], QString::fromLatin1(name45) + "98765");

        // The record's own number, even behind a name with a blank and a comma in the number.
        auto* number = control<QLineEdit>(&dialer, "Text1");
        clickRow(dialer, 3);
        QCOMPARE(number->text(), "0,1");
        clickRow(dialer, 0);
        QCOMPARE(number->text(), "0815");
        for (const char* key : {"Image_0", "Image_8", "Image_1", "Image_5"})
            QTest::mouseClick(control<QLabel>(&dialer, key), Qt::LeftButton);
        QCOMPARE(number->text(), "08150815");
    }

    void addingEntries()
    {
        // No phone book yet: an empty list, no complaint, and "Add" creates the file.
        Dialer& dialer = openDialer();
        QVERIFY(listLines(dialer).isEmpty());
        QVERIFY(engine_->boxes.boxes().isEmpty());
        QTest::mouseClick(control<QPushButton>(&dialer, "Command2"), Qt::LeftButton);
        QPointer<Form5> add = &calls_->form5();
        QVERIFY(add->isVisible());
        auto* name = control<QLineEdit>(add, "Text1");
        auto* number = control<QLineEdit>(add, "Text2");
        auto* addButton = control<QPushButton>(add, "Command1");

        QTest::mouseClick(addButton, Qt::LeftButton);
        name->setText("Bob \"the\" Builder");
        QTest::mouseClick(addButton, Qt::LeftButton);
        number->setText("555 12");
        QTest::mouseClick(addButton, Qt::LeftButton);
        const QStringList texts = engine_->boxes.texts();
        QCOMPARE(texts.size(), 3);
        QCOMPARE(texts[0], "Please fill the name of the person");
        QCOMPARE(texts[1], "Please fill the phone number of the person");
        QVERIFY(texts[2].contains("double quote"));
        QVERIFY(calls_->isForm5Loaded());
        QVERIFY(!QFile::exists(engine_->dataPath("addresses.dat")));

        name->setText("Bob");
        QTest::mouseClick(addButton, Qt::LeftButton);
        QVERIFY(!calls_->isForm5Loaded());
        QTRY_VERIFY(add.isNull());
        QCOMPARE(engine_->readDataFile("addresses.dat"), QByteArray("\"Bob\",\"555 12\"\r\n"));
        QCOMPARE(listLines(dialer), QStringList({"Bob" + QString(39, ' ') + "555 12"}));
    }

    void deletingTakesTwinsAlong()
    {
        const QByteArray book = "\"Anna\",\"0815\"\r\n\"Bob\",\"42\"\r\n\"Anna\",\"0815\"\r\n";
        engine_->writeDataFile("addresses.dat", book);
        Dialer& dialer = openDialer();
        auto* deleteButton = control<QPushButton>(&dialer, "Command3");
        QTest::mouseClick(deleteButton, Qt::LeftButton);
        QCOMPARE(engine_->readDataFile("addresses.dat"), book);

        clickRow(dialer, 2);
        QTest::mouseClick(deleteButton, Qt::LeftButton);
        QCOMPARE(engine_->readDataFile("addresses.dat"), QByteArray("\"Bob\",\"42\"\r\n"));
        QCOMPARE(listLines(dialer), QStringList({"Bob" + QString(43, ' ') + "42"}));
        QVERIFY(!QFile::exists(engine_->dataPath("addresstemp.dat")));
        QVERIFY(engine_->boxes.boxes().isEmpty());
    }

    void resetStoresZeroAndKeepsTheShownTime()
    {
        Dialer& dialer = openDialer();
        const QByteArray before = engine_->readDataFile("data.dat");
        QTest::mouseClick(control<QPushButton>(&dialer, "Command4"), Qt::LeftButton);
        QCOMPARE(engine_->readDataFile("data.dat"),
                 QByteArray(before).replace("\"01:02:03\"", "\"00:00:00\""));
        QCOMPARE(control<QLineEdit>(&dialer, "Text3")->text(), "01:02:03");
    }

    void anUnreadablePhoneBookIsReported()
    {
        QVERIFY(QDir(engine_->programDir()).mkpath("data/addresses.dat"));
        Dialer& dialer = openDialer();
        QVERIFY(listLines(dialer).isEmpty());
        QCOMPARE(engine_->boxes.boxes().size(), 1);
        QVERIFY(engine_->boxes.texts().first().contains("addresses.dat"));
    }

    // Keyboard and screen reader: both windows walked; the arrow keys choose a line as a
    // click does, though the focus alone chooses nothing; the keys of the pad press with
    // Space; Enter adds, Escape cancels.
    void keyboardAndScreenReaders()
    {
        engine_->writeDataFile("addresses.dat", "\"Anna\",\"0815\"\r\n\"Bob\",\"42\"\r\n");
        Dialer& dialer = openDialer();
        QVERIFY(QTest::qWaitForWindowExposed(&dialer));
        VERIFY_NO_WINDOW_PROBLEMS(dialer);

        auto* number = control<QLineEdit>(&dialer, "Text1");
        auto* list = control<QListWidget>(&dialer, "List1");
        number->setText("777");
        list->setFocus(Qt::TabFocusReason);
        QCOMPARE(number->text(), "777");
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(number->text(), "42");
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(number->text(), "0815");
        QTest::keyClick(control<QLabel>(&dialer, "Image_4"), Qt::Key_Space);
        QCOMPARE(number->text(), "08154");

        QTest::mouseClick(control<QPushButton>(&dialer, "Command2"), Qt::LeftButton);
        QPointer<Form5> add = &calls_->form5();
        QVERIFY(QTest::qWaitForWindowExposed(add));
        VERIFY_NO_WINDOW_PROBLEMS(*add);
        control<QLineEdit>(add, "Text1")->setText("Cleo");
        control<QLineEdit>(add, "Text2")->setText("99");
        QTest::keyClick(control<QLineEdit>(add, "Text2"), Qt::Key_Return);
        QTRY_VERIFY(add.isNull());
        QVERIFY(engine_->readDataFile("addresses.dat").endsWith("\"Cleo\",\"99\"\r\n"));
        QTest::mouseClick(control<QPushButton>(&dialer, "Command2"), Qt::LeftButton);
        add = &calls_->form5();
        control<QLineEdit>(add, "Text1")->setText("Dora");
        QTest::keyClick(control<QLineEdit>(add, "Text1"), Qt::Key_Escape);
        QTRY_VERIFY(add.isNull());
        QVERIFY(!engine_->readDataFile("addresses.dat").contains("Dora"));
        QVERIFY(engine_->boxes.boxes().isEmpty());
    }
};

QTEST_MAIN(TestPhoneBook)
#include "test_phonebook.moc"
