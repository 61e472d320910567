// The programs menu and the program list editor, in a whole engine: "Run" under the status
// window, the items and their highlight, starting programs and the editor's buttons.

#include "engine/channels/form2.h"
#include "engine/launcher/launcher.h"
#include "engine/launcher/programlisteditor.h"
#include "engine/launcher/programsmenu.h"
#include "engine/tellaranengine.h"
#include "engine/windows/twips.h"
#include "tests/support/controls.h"
#include "tests/support/fakeengine.h"
#include "tests/support/scriptedmessageboxes.h"
#include "tests/support/windowcheck.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace tellaran;
using namespace tellaran::testing;

class TestLauncher : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::shared_ptr<ScriptedMessageBoxes> boxes_;
    std::unique_ptr<TellaranEngine> engine_;

    QString programDir() const { return dir_->path(); }
    void writeList(const QByteArray& content)
    {
        QFile file(engine_->dataPath(QStringLiteral("programs.dat")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    QByteArray listContent() const
    {
        QFile file(engine_->dataPath(QStringLiteral("programs.dat")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    // A script in the program folder that writes its arguments, one a line, to `file` in
    // its working folder.
    void writeRecorder(const QString& name, const QString& file)
    {
        QFile script(dir_->filePath(name));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > " + file.toLatin1() + ".part\nmv " +
                     file.toLatin1() + ".part " + file.toLatin1() + "\n");
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner | QFile::ExeUser);
    }
    QByteArray readFileOf(const QString& name) const
    {
        QFile file(dir_->filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    ProgramsMenu* menu() const { return engine_->launcher().programsMenu(); }
    ProgramsMenu& openMenu()
    {
        engine_->toggleProgramsMenu();
        if (!menu())
            qFatal("the programs menu did not load");
        return *menu();
    }
    QLabel* item(const char* array, int index)
    {
        const QByteArray name = QByteArray(array) + '_' + QByteArray::number(index);
        return control<QLabel>(menu(), name.constData());
    }
    QStringList captions()
    {
        QStringList texts;
        for (int k = 0; k < menu()->layout().itemCount(); ++k)
            texts << item("menu", k)->text();
        return texts;
    }
    ProgramListEditor& openEditor()
    {
        engine_->launcher().showEditor();
        return *engine_->launcher().editor();
    }

private Q_SLOTS:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QDir(dir_->path()).mkpath(QStringLiteral("data"));
        boxes_ = std::make_shared<ScriptedMessageBoxes>();
        TellaranEngine::Options options;
        options.programDir = dir_->path();
        options.channelPort = freeTcpPort();
        options.messageBoxes = boxes_;
        options.onEnd = [] {};
        engine_ = std::make_unique<TellaranEngine>(std::move(options));
    }
    void cleanup()
    {
        engine_.reset();
        dir_.reset();
    }

    void menuHangsBelowTheRunButton()
    {
        writeList("\"A\",\"a\"\r\n");
        Form2& status = engine_->statusWindow();
        QTest::mouseClick(control<QWidget>(status, "Button1"), Qt::LeftButton);
        QVERIFY(menu());
        ProgramsMenu& programs = *menu();
        QVERIFY(programs.isVisible());
        QCOMPARE(programs.leftTwips(), PixelsToTwips(status.x() + status.runButtonLeft()) + 150);
        QCOMPARE(programs.topTwips(), PixelsToTwips(status.y() + status.height()));
        QCOMPARE(programs.pos(),
                 QPoint(TwipsToPixels(programs.leftTwips()), TwipsToPixels(programs.topTwips())));
        QCOMPARE(programs.width(), item("menuup", 0)->width());
    }

    void itemsFollowEachOtherAndTheWindowEndsAtTheLast()
    {
        writeList("\"One\",\"1\"\r\n\"Two\",\"2\"\r\n\"Three\",\"3\"\r\n");
        ProgramsMenu& programs = openMenu();
        const ProgramsMenuLayout& layout = programs.layout();
        QCOMPARE(layout.itemCount(), 4);
        QCOMPARE(captions(), (QStringList{"One", "Two", "Three", "Edit List"}));
        QCOMPARE(item("pathi", 2)->text(), QStringLiteral("3"));
        QCOMPARE(item("pathi", 3)->text(), QStringLiteral("Edit List"));
        const int pitch = layout.item(0).menuup.height + 10;
        for (int k = 1; k < 4; ++k) {
            QCOMPARE(layout.item(k).menuup.top - layout.item(k - 1).menuup.top, pitch);
            QCOMPARE(layout.item(k).menu.top - layout.item(k - 1).menu.top, pitch);
            QCOMPARE(layout.item(k).Menupress.top - layout.item(k - 1).Menupress.top, pitch);
            QCOMPARE(layout.item(k).menu.left, 100);
            QCOMPARE(layout.item(k).pathi.left, 4000);
        }
        QCOMPARE(layout.windowHeight(), layout.item(3).menuup.bottom());
        QCOMPARE(programs.height(), TwipsToPixels(layout.windowHeight()));
        QCOMPARE(programs.height(), item("menuup", 3)->geometry().bottom() + 1);
        // The command lines lie outside the visible area.
        QVERIFY(item("pathi", 0)->x() >= programs.width());
    }

    void mouseOverHighlightsOneItemOnly()
    {
        writeList("\"One\",\"1\"\r\n\"Two\",\"2\"\r\n\"Three\",\"3\"\r\n");
        ProgramsMenu& programs = openMenu();
        const int width = item("menuup", 0)->width();
        QTest::mouseMove(item("menu", 1));
        QTRY_COMPARE(programs.layout().highlightedItem(), 1);
        QTest::mouseMove(item("menuup", 3), QPoint(width - 5, 5));
        QTRY_COMPARE(programs.layout().highlightedItem(), 3);
        for (int k = 0; k < 4; ++k) {
            const bool lit = k == 3;
            QCOMPARE(item("menuup", k)->isVisible(), !lit);
            QCOMPARE(item("Menupress", k)->x(), lit ? item("menuup", k)->x() : width);
            QCOMPARE(programs.layout().item(k).Menupress.left,
                     lit ? 0 : programs.layout().item(k).menuup.width);
        }
    }

    void emptyOrMissingListGivesEditListAloneWhichOpensTheEditor()
    {
        for (bool missing : {true, false}) {
            if (missing)
                QFile::remove(engine_->dataPath(QStringLiteral("programs.dat")));
            else
                writeList("");
            openMenu();
            QCOMPARE(captions(), QStringList{QStringLiteral("Edit List")});
            QTest::mouseClick(item("menu", 0), Qt::LeftButton);
            QVERIFY(!engine_->launcher().isProgramsMenuLoaded());
            QVERIFY(engine_->launcher().isEditorLoaded());
            QVERIFY(engine_->launcher().editor()->isVisible());
            engine_->launcher().unloadEditor();
        }
        QVERIFY(boxes_->boxes().isEmpty());
    }

    void unreadableListIsReportedOnceAndNeverRewritten()
    {
        QVERIFY(QDir().mkpath(engine_->dataPath(QStringLiteral("programs.dat"))));
        openMenu();
        QCOMPARE(captions(), QStringList{QStringLiteral("Edit List")});
        QCOMPARE(boxes_->boxes().size(), 1);
        QVERIFY(boxes_->boxes().first().text.contains(QLatin1String("programs.dat")));

        ProgramListEditor& editor = openEditor();
        QCOMPARE(boxes_->boxes().size(), 2);
        QCOMPARE(control<QListWidget>(editor, "List1")->count(), 0);
        QTest::mouseClick(control<QPushButton>(editor, "Command2"), Qt::LeftButton);
        QCOMPARE(boxes_->boxes().size(), 3);
        QVERIFY(boxes_->boxes().last().text.contains(QLatin1String("left as it was")));
        QVERIFY(QFileInfo(engine_->dataPath(QStringLiteral("programs.dat"))).isDir());
    }

    void runTwiceHidesAndKeepsTheItemsAClickRebuildsThem()
    {
        writeList("\"Quick\",\"true\"\r\n");
        openMenu();
        ProgramsMenu* first = menu();
        writeList("\"Quick\",\"true\"\r\n\"Later\",\"true\"\r\n");
        engine_->toggleProgramsMenu();
        QCOMPARE(menu(), first);
        QVERIFY(!first->isVisible());
        engine_->toggleProgramsMenu();
        QCOMPARE(menu(), first);
        QVERIFY(first->isVisible());
        QCOMPARE(captions(), (QStringList{"Quick", "Edit List"}));

        // A program that ends at once has still started: no box, and the menu unloads.
        QSignalSpy started(&engine_->launcher(), &Launcher::programStarted);
        QTest::mouseClick(item("menu", 0), Qt::LeftButton);
        QCOMPARE(started.size(), 1);
        QVERIFY(!engine_->launcher().isProgramsMenuLoaded());
        QVERIFY(boxes_->boxes().isEmpty());
        openMenu();
        QCOMPARE(captions(), (QStringList{"Quick", "Later", "Edit List"}));
    }

    void programStartsWithItsArgumentsInTheProgramFolder()
    {
        writeRecorder(QStringLiteral("record.sh"), QStringLiteral("args.txt"));
        // An entry named like the last item that is not last starts its own command line.
        writeList("\"Edit List\",\"record.sh 'two words' a,b plain\"\r\n");
        openMenu();
        QSignalSpy started(&engine_->launcher(), &Launcher::programStarted);
        // A click on the item's picture, not its caption.
        QTest::mouseClick(item("menuup", 0), Qt::LeftButton, {}, QPoint(150, 5));
        QCOMPARE(started.size(), 1);
        QVERIFY(!engine_->launcher().isProgramsMenuLoaded());
        QVERIFY(!engine_->launcher().isEditorLoaded());
        QTRY_COMPARE(readFileOf(QStringLiteral("args.txt")), QByteArray("two words\na,b\nplain\n"));
        QVERIFY(boxes_->boxes().isEmpty());
    }

    void programThatCannotStartSaysFileNotFound()
    {
        QFile plain(dir_->filePath(QStringLiteral("notes.txt")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("not a program");
        plain.close();
        const QStringList lines = {QStringLiteral("missing-program --flag 'x y'"),
                                   QStringLiteral("notes.txt"), QString()};
        writeList("\"Missing\",\"missing-program --flag 'x y'\"\r\n\"Text\",\"notes.txt\"\r\n"
                  "\"Empty\",\"\"\r\n");
        for (int k = 0; k < lines.size(); ++k) {
            openMenu();
            QTest::mouseClick(item("menu", k), Qt::LeftButton);
            QVERIFY(!engine_->launcher().isProgramsMenuLoaded());
            QCOMPARE(boxes_->boxes().size(), k + 1);
            QCOMPARE(boxes_->boxes().last().text, QStringLiteral("File not found : ") + lines[k]);
            QCOMPARE(boxes_->boxes().last().buttons, BoxButtons::Ok);
            QVERIFY(boxes_->boxes().last().title.isEmpty());
        }
    }

    void deliveredListStartsTheChatBesideTheEngine()
    {
        QVERIFY(QFile::copy(QStringLiteral(DELIVERED_PROGRAM_LIST),
                            engine_->dataPath(QStringLiteral("programs.dat"))));
        const QString yarnit = dir_->filePath(QStringLiteral("Yarnit"));
        QVERIFY(QFile::copy(QStringLiteral(YARNIT_PROGRAM), yarnit));
        openMenu();
        QCOMPARE(captions(), (QStringList{"Yarnit", "Ferryit", "Edit List"}));
        QSignalSpy started(&engine_->launcher(), &Launcher::programStarted);
        QTest::mouseClick(item("menu", 0), Qt::LeftButton);
        QCOMPARE(started.size(), 1);
        const qint64 pid = started.first().first().toLongLong();
        QVERIFY(pid > 0);
        const QString exe = QStringLiteral("/proc/%1/exe").arg(pid);
        QTRY_COMPARE(QFileInfo(exe).symLinkTarget(), QFileInfo(yarnit).canonicalFilePath());
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        QVERIFY(boxes_->boxes().isEmpty());
    }

    void editorListsAddsSelectsAndDeletes()
    {
        writeList("\"Chat\",\"chat --old\"\r\n\"Mail\",\"mail\"\r\n\"Chat\",\"chat --new\"\r\n");
        ProgramListEditor& editor = openEditor();
        QCOMPARE(editor.objectName(), QStringLiteral("editp"));
        QCOMPARE(editor.windowTitle(), QStringLiteral("Edit Program list"));
        QCOMPARE(control<QLabel>(editor, "Label1")->text(), QStringLiteral("Edit Program List"));
        auto* list = control<QListWidget>(editor, "List1");
        auto* name = control<QLineEdit>(editor, "Text1");
        auto* path = control<QLineEdit>(editor, "Text2");
        auto names = [list] {
            QStringList texts;
            for (int i = 0; i < list->count(); ++i)
                texts << list->item(i)->text();
            return texts;
        };
        QCOMPARE(names(), (QStringList{"Chat", "Mail", "Chat"}));

        // Selecting a name shows the last entry's command line.
        list->setCurrentRow(0);
        QCOMPARE(name->text(), QStringLiteral("Chat"));
        QCOMPARE(path->text(), QStringLiteral("chat --new"));

        // "Add" keeps both boxes and adds the name at the end.
        name->setText(QStringLiteral("Tool"));
        path->setText(QStringLiteral("tool --x 1,2"));
        QTest::mouseClick(control<QPushButton>(editor, "Command1"), Qt::LeftButton);
        QCOMPARE(name->text(), QStringLiteral("Tool"));
        QCOMPARE(path->text(), QStringLiteral("tool --x 1,2"));
        QCOMPARE(names(), (QStringList{"Chat", "Mail", "Chat", "Tool"}));
        QVERIFY(listContent().endsWith("\"Tool\",\"tool --x 1,2\"\r\n"));

        // A name the file no longer holds keeps the command line box.
        writeList("\"Mail\",\"mail\"\r\n");
        list->setCurrentRow(3);
        QCOMPARE(name->text(), QStringLiteral("Tool"));
        QCOMPARE(path->text(), QStringLiteral("tool --x 1,2"));

        // "Delete" removes the selected name's entries, refills the list, empties both boxes.
        writeList("\"Chat\",\"a\"\r\n\"Mail\",\"mail\"\r\n\"Chat\",\"b\"\r\n");
        list->setCurrentRow(0);
        QTest::mouseClick(control<QPushButton>(editor, "Command2"), Qt::LeftButton);
        QCOMPARE(names(), QStringList{QStringLiteral("Mail")});
        QVERIFY(name->text().isEmpty() && path->text().isEmpty());
        QCOMPARE(listContent(), QByteArray("\"Mail\",\"mail\"\r\n"));
        QVERIFY(boxes_->boxes().isEmpty());

        // The close picture unloads the editor.
        QTest::mouseClick(control<QLabel>(editor, "Image1"), Qt::LeftButton);
        QVERIFY(!engine_->launcher().isEditorLoaded());
    }

    void editorRefusesWhatTheFileCannotHoldAndReportsFailures()
    {
        writeList("\"Mail\",\"mail\"\r\n");
        ProgramListEditor& editor = openEditor();
        auto* list = control<QListWidget>(editor, "List1");
        auto* name = control<QLineEdit>(editor, "Text1");
        auto* path = control<QLineEdit>(editor, "Text2");
        auto* add = control<QPushButton>(editor, "Command1");

        name->setText(QStringLiteral("Quote"));
        path->setText(QStringLiteral("run \"a b\""));
        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(boxes_->boxes().size(), 1);
        QVERIFY(boxes_->boxes().last().text.contains(QLatin1String("double quote")));
        QCOMPARE(list->count(), 1);
        QCOMPARE(listContent(), QByteArray("\"Mail\",\"mail\"\r\n"));
        QCOMPARE(path->text(), QStringLiteral("run \"a b\""));

        // A list that cannot be written: the name does not appear.
        QFile::remove(engine_->dataPath(QStringLiteral("programs.dat")));
        QVERIFY(QDir(engine_->dataPath(QString())).removeRecursively());
        path->setText(QStringLiteral("run"));
        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(boxes_->boxes().size(), 2);
        QVERIFY(boxes_->boxes().last().text.contains(QLatin1String("programs.dat")));
        QCOMPARE(list->count(), 1);
    }

    // The editor opens with nothing chosen, even once the list has the focus: "Delete" then
    // removes only entries with an empty name. A line is chosen by a click or the arrow keys.
    void editorDeletesOnlyWhatWasChosen()
    {
        writeList("\"Chat\",\"chat\"\r\n\"\",\"nameless\"\r\n\"Mail\",\"mail\"\r\n");
        ProgramListEditor& editor = openEditor();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        auto* list = control<QListWidget>(editor, "List1");
        auto* name = control<QLineEdit>(editor, "Text1");
        list->setFocus(Qt::TabFocusReason);
        QVERIFY(name->text().isEmpty());
        QTest::mouseClick(control<QPushButton>(editor, "Command2"), Qt::LeftButton);
        QCOMPARE(listContent(), QByteArray("\"Chat\",\"chat\"\r\n\"Mail\",\"mail\"\r\n"));

        list->setFocus(Qt::TabFocusReason);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(name->text(), QStringLiteral("Mail"));
        QCOMPARE(control<QLineEdit>(editor, "Text2")->text(), QStringLiteral("mail"));
        QTest::mouseClick(control<QPushButton>(editor, "Command2"), Qt::LeftButton);
        QCOMPARE(listContent(), QByteArray("\"Chat\",\"chat\"\r\n"));
    }

    // Both windows walked. The menu takes the keyboard: the arrow keys move the highlight,
    // Enter starts the item, Escape puts the menu away. In the editor Enter adds, Escape
    // closes.
    void keyboardAndScreenReaders()
    {
        writeList("\"Chat\",\"chat\"\r\n\"Mail\",\"mail\"\r\n");
        ProgramsMenu& programs = openMenu();
        QVERIFY(QTest::qWaitForWindowExposed(&programs));
        VERIFY_NO_WINDOW_PROBLEMS(programs);
        programs.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&programs));
        item("menu", 0)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(programs.layout().highlightedItem(), 2);
        QCOMPARE(QAccessible::queryAccessibleInterface(item("menu", 2))->text(QAccessible::Name),
                 QStringLiteral("Edit List"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!programs.isVisible());
        openMenu();
        QVERIFY(menu()->isVisible());
        item("menu", 2)->setFocus();
        QTest::keyClick(item("menu", 2), Qt::Key_Return);
        QVERIFY(engine_->launcher().editor());

        ProgramListEditor& editor = *engine_->launcher().editor();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        VERIFY_NO_WINDOW_PROBLEMS(editor);
        control<QLineEdit>(editor, "Text1")->setText(QStringLiteral("Tool"));
        control<QLineEdit>(editor, "Text2")->setText(QStringLiteral("tool"));
        QTest::keyClick(control<QLineEdit>(editor, "Text2"), Qt::Key_Enter);
        QVERIFY(listContent().endsWith("\"Tool\",\"tool\"\r\n"));
        QTest::keyClick(&editor, Qt::Key_Escape);
        QVERIFY(!engine_->launcher().isEditorLoaded());
        QVERIFY(boxes_->boxes().isEmpty());
    }
};

QTEST_MAIN(TestLauncher)
#include "test_launcher.moc"
