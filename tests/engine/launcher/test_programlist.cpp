// The program list file and how a command line is taken apart and found.

#include "engine/launcher/programlist.h"
#include "engine/launcher/programstart.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tellaran;

class TestProgramList : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    ProgramListFile list_{dir_.path()};

    void write(const QByteArray& content)
    {
        QFile out(list_.path());
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(content);
    }
    QByteArray content() const
    {
        QFile in(list_.path());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("(missing)");
    }
    QList<ProgramEntry> entries()
    {
        QList<ProgramEntry> read;
        if (!list_.LoadProgramList(&read))
            qWarning("the list could not be read");
        return read;
    }

private Q_SLOTS:
    void init()
    {
        QDir(dir_.path()).mkpath(QStringLiteral("data"));
        QFile::remove(list_.path());
        QFile::remove(list_.tempPath());
        QDir(list_.tempPath()).removeRecursively();
    }

    void appendWritesExactBytesAndReadsBack()
    {
        // A missing list is empty, and the first entry creates it.
        QCOMPARE(entries().size(), 0);
        const ProgramEntry tool{"Tool, big", "/opt/my tools/run.sh --size 3,4 'a file.txt'"};
        QVERIFY(list_.AppendProgram(tool));
        QVERIFY(list_.AppendProgram({"", ""}));
        QCOMPARE(content(), QByteArray("\"Tool, big\",\"/opt/my tools/run.sh --size 3,4 'a "
                                       "file.txt'\"\r\n\"\",\"\"\r\n"));
        QCOMPARE(entries(), (QList<ProgramEntry>{tool, {"", ""}}));
    }

    void appendAfterAnUnendedLastLine()
    {
        // Edited by hand, without the last line end: the new entry still gets its own line.
        write("\"Ed\",\"ed\"");
        QVERIFY(list_.AppendProgram({"Vi", "vi"}));
        QCOMPARE(content(), QByteArray("\"Ed\",\"ed\"\r\n\"Vi\",\"vi\"\r\n"));
        QCOMPARE(entries().size(), 2);
    }

    void unstorableTextsAreRefusedWithNothingWritten()
    {
        write("\"A\",\"a\"\r\n");
        for (const ProgramEntry& entry :
             {ProgramEntry{"say \"hi\"", "x"}, ProgramEntry{"x", "run \"a b\""},
              ProgramEntry{"two\r\nlines", "x"}, ProgramEntry{"x", "line\n"}}) {
            QString error;
            QVERIFY(!ProgramEntryProblem(entry).isEmpty());
            QVERIFY(!list_.AppendProgram(entry, &error));
            QVERIFY(!error.isEmpty());
        }
        QCOMPARE(content(), QByteArray("\"A\",\"a\"\r\n"));
    }

    void deleteRemovesEveryEntryOfTheNameExactly()
    {
        write("\"Chat\",\"one\"\r\n\"chat\",\"two\"\r\n\"Chat\",\"three\"\r\n\"Mail\",\"m\"\r\n");
        int removed = -1;
        QVERIFY(list_.DeleteProgramsNamed("Chat", &removed));
        QCOMPARE(removed, 2);
        QCOMPARE(content(), QByteArray("\"chat\",\"two\"\r\n\"Mail\",\"m\"\r\n"));
        QVERIFY(!QFile::exists(list_.tempPath()));
    }

    void deleteOfAnEmptyNameKeepsTheListButRewritesIt()
    {
        // Written by hand with blanks: the rewrite gives the canonical form back.
        write("\"A\", \"a\"\r\n\r\n\"B\",\"b\"");
        int removed = -1;
        QVERIFY(list_.DeleteProgramsNamed("", &removed));
        QCOMPARE(removed, 0);
        QCOMPARE(content(), QByteArray("\"A\",\"a\"\r\n\"B\",\"b\"\r\n"));
    }

    void failedDeleteKeepsTheListWhole()
    {
        const QByteArray original("\"A\",\"a\"\r\n\"B\",\"b\"\r\n");
        write(original);
        QVERIFY(QDir().mkpath(list_.tempPath())); // progtemp.dat cannot be written
        QString error;
        QVERIFY(!list_.DeleteProgramsNamed("A", nullptr, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(content(), original);
    }

    void unreadableListIsAnErrorAndNeverRewritten()
    {
        QVERIFY(QDir().mkpath(list_.path())); // exists, but is no file
        QList<ProgramEntry> read;
        QString error;
        QVERIFY(!list_.LoadProgramList(&read, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!list_.DeleteProgramsNamed("A"));
        std::optional<QByteArray> path;
        QVERIFY(!list_.FindProgramPath("A", &path));
        QVERIFY(!list_.AppendProgram({"A", "a"}));
        QVERIFY(QFileInfo(list_.path()).isDir());
        QDir(list_.path()).removeRecursively();
    }

    void findGivesTheLastEntryOfTheName()
    {
        write("\"Chat\",\"old\"\r\n\"Mail\",\"m\"\r\n\"Chat\",\"new --big\"\r\n");
        std::optional<QByteArray> path;
        QVERIFY(list_.FindProgramPath("Chat", &path));
        QCOMPARE(path, std::optional<QByteArray>("new --big"));
        QVERIFY(list_.FindProgramPath("chat", &path));
        QVERIFY(!path.has_value());
    }

    void commandLinesSplitAsAShellWould()
    {
        QCOMPARE(
            SplitCommandLine(QStringLiteral("  run.sh  'two words' a,b \"x \\\" y\" c\\ d ''")),
            (QStringList{"run.sh", "two words", "a,b", "x \" y", "c d", ""}));
        QCOMPARE(SplitCommandLine(QStringLiteral("tool 'unclosed quote")),
                 (QStringList{"tool", "unclosed quote"}));
        QCOMPARE(SplitCommandLine(QStringLiteral("   ")), QStringList());
    }

    void programFileFoundBesideTheEngineFirstThenOnPath()
    {
        // A program of the engine's folder wins over one of the same name on PATH.
        QFile local(dir_.filePath(QStringLiteral("true")));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.close();
        ProgramCommand command;
        QVERIFY(
            ResolveCommandLine(QStringLiteral("true 'a b'"), QStringList{dir_.path()}, &command));
        QCOMPARE(command.program, QFileInfo(local).absoluteFilePath());
        QCOMPARE(command.arguments, QStringList{QStringLiteral("a b")});
        local.remove();

        QVERIFY(ResolveCommandLine(QStringLiteral("true"), QStringList{dir_.path()}, &command));
        QVERIFY(QFileInfo(command.program).isAbsolute());
        QVERIFY(command.program.endsWith(QLatin1String("/true")));

        QVERIFY(ResolveCommandLine(QStringLiteral("/no/such/tool -x"), QStringList{dir_.path()},
                                   &command));
        QCOMPARE(command.program, QStringLiteral("/no/such/tool"));

        // Folders are searched in turn: the engine's data folder, then its executable's.
        QTemporaryDir second;
        QFile onlyThere(QDir(second.path()).filePath(QStringLiteral("tool")));
        QVERIFY(onlyThere.open(QIODevice::WriteOnly));
        onlyThere.close();
        QVERIFY(ResolveCommandLine(QStringLiteral("tool"), {dir_.path(), second.path()}, &command));
        QCOMPARE(command.program, QFileInfo(onlyThere).absoluteFilePath());

        // Nothing to run: an empty line, a missing name, a relative path outside the folder.
        for (const char* line : {"", "   ", "no-such-program-anywhere", "sub/true"})
            QVERIFY2(!ResolveCommandLine(QLatin1String(line), QStringList{dir_.path()}, &command),
                     line);
    }
};

QTEST_GUILESS_MAIN(TestProgramList)
#include "test_programlist.moc"
