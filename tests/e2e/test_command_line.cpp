// The programs' command lines, run as a user runs them: help, version, the port map, and
// what they refuse.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/types.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
    QString error;
};

// Runs a program with HOME in a folder of its own, so that nothing of the user's is read or
// written, and no display.
Run run(const QString& program, const QStringList& arguments, const QString& home,
        const QString& display = QString())
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.error = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const QString builtPrograms = QStringLiteral(TELLARAN_BIN_DIR);

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void helpVersionAndUnknownOptions_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("engine") << QStringLiteral("Tellaran");
        QTest::newRow("chat") << QStringLiteral("Yarnit");
        QTest::newRow("files") << QStringLiteral("Ferryit");
    }
    void helpVersionAndUnknownOptions()
    {
        QFETCH(QString, program);
        QTemporaryDir home;
        const QString path = builtPrograms + QLatin1Char('/') + program;

        const Run help = run(path, {QStringLiteral("--help")}, home.path());
        QCOMPARE(help.exitCode, 0);
        // The usage names the program and takes no file (--log's file is told with --log),
        // but for Ferryit's files to send.
        QCOMPARE(
            help.output.section(QLatin1Char('\n'), 0, 0),
            QStringLiteral("Usage: %1 [options]").arg(program) +
                (program == QLatin1String("Ferryit") ? QStringLiteral(" [file...]") : QString()));
        QVERIFY(help.output.contains(QLatin1String("--version")));
        QCOMPARE(program == QLatin1String("Tellaran"),
                 help.output.contains(QLatin1String("--ports")));
        QCOMPARE(program == QLatin1String("Tellaran"),
                 help.output.contains(QLatin1String("--log")));

        const Run version = run(path, {QStringLiteral("--version")}, home.path());
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.output, program + QStringLiteral(" " TELLARAN_VERSION "\n"));

        const Run unknown = run(path, {QStringLiteral("--frobnicate")}, home.path());
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY(unknown.output.isEmpty());
        QVERIFY(unknown.error.contains(QLatin1String("Unknown option 'frobnicate'")));
        QVERIFY(unknown.error.contains(QLatin1String("--help")));

        const Run stray = run(path, {QStringLiteral("stray")}, home.path());
        QCOMPARE(stray.exitCode, 2);
        QVERIFY(stray.error.contains(QLatin1String("'stray'")));

        // Without a display, or with one that cannot be reached: one line, and exit code 1.
        for (const QString& display : {QString(), QStringLiteral(":4711")}) {
            const Run windowless = run(path, {}, home.path(), display);
            QCOMPARE(windowless.exitCode, 1);
            QVERIFY(windowless.output.isEmpty());
            QCOMPARE(windowless.error.count(QLatin1Char('\n')), 1);
            QVERIFY2(windowless.error.startsWith(program + QStringLiteral(": ")) &&
                         windowless.error.contains(QLatin1String("desktop session")),
                     qPrintable(windowless.error));
        }

        // None of this creates anything in the user's folders.
        QCOMPARE(QDir(home.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
    }

    // A portable copy of the programs: its own port map, beside it, is the one reported.
    void portsOfAPortableCopy()
    {
        QTemporaryDir home;
        QTemporaryDir copy;
        QVERIFY(QFile::copy(builtPrograms + QStringLiteral("/Tellaran"),
                            copy.filePath(QStringLiteral("Tellaran"))));
        QVERIFY(QDir(copy.path()).mkpath(QStringLiteral("data")));
        writeFile(copy.filePath(QStringLiteral("data/ports.dat")),
                  "1,\"modem:5551\"\r\n2,\"/dev/tellaran-test-absent\"\r\nbroken\r\n"
                  "9,\"modem:7@0\"\r\n");

        const Run ports = run(copy.filePath(QStringLiteral("Tellaran")),
                              {QStringLiteral("--ports")}, home.path());
        QCOMPARE(ports.exitCode, 0);
        const QStringList lines = ports.output.split(QLatin1Char('\n'));
        QVERIFY2(lines.size() > 8, qPrintable(ports.output + ports.error));
        QCOMPARE(
            lines.mid(0, 5),
            (QStringList{
                QStringLiteral("Port map %1").arg(copy.filePath(QStringLiteral("data/ports.dat"))),
                QStringLiteral("  port 1: modem:5551 = virtual modem, line 5551"),
                QStringLiteral("  port 2: /dev/tellaran-test-absent = "
                               "/dev/tellaran-test-absent (not present)"),
                QStringLiteral("  port 9: modem:7@0 = virtual modem, line 7, unpaced"),
                QStringLiteral("Ports 1 to 4 without a record"),
            }));
        // Ports 3 and 4 have no record; whether their devices are here depends on the computer.
        QVERIFY(lines[5].startsWith(QLatin1String("  port 3: /dev/ttyS2 (")));
        QVERIFY(lines[6].startsWith(QLatin1String("  port 4: /dev/ttyS3 (")));
        QCOMPARE(lines[7], QStringLiteral("Serial devices on this computer"));
        // Run from its own folder, the copy keeps everything there.
        QCOMPARE(QDir(home.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
    }

    void logThatCannotBeWrittenIsRefused()
    {
        QTemporaryDir home;
        const Run refused =
            run(builtPrograms + QStringLiteral("/Tellaran"),
                {QStringLiteral("--log"), home.filePath(QStringLiteral("no/x.log"))}, home.path());
        QCOMPARE(refused.exitCode, 1);
        QVERIFY(refused.error.contains(QLatin1String("cannot write the log")));
    }

    // A second engine on the same data folder says so and touches nothing; the first ends
    // on SIGTERM as on Disconnect, and gives the folder up.
    void oneEnginePerDataFolder()
    {
        QTemporaryDir home;
        QTemporaryDir copy;
        const QString engine = copy.filePath(QStringLiteral("Tellaran"));
        QVERIFY(QFile::copy(builtPrograms + QStringLiteral("/Tellaran"), engine));
        QVERIFY(QDir(copy.path()).mkpath(QStringLiteral("data")));
        for (const char* name : {"data.dat", "ports.dat", "programs.dat"}) {
            QVERIFY(QFile::copy(builtPrograms + QStringLiteral("/data/") + QLatin1String(name),
                                copy.filePath(QStringLiteral("data/")) + QLatin1String(name)));
        }
        writeFile(copy.filePath(QStringLiteral("data/addresses.dat")), "\"Anna\",\"0815\"\r\n");
        writeFile(copy.filePath(QStringLiteral("data/requests.dat")), "3,\"CHAT0001\"\r\n");

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess first;
        first.setProcessEnvironment(environment);
        first.start(engine, QStringList());
        const QString lock = copy.filePath(QStringLiteral("data/engine.lock"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 10000);
        const auto snapshot = [&copy] {
            QStringList state;
            QDir data(copy.filePath(QStringLiteral("data")));
            for (const QFileInfo& file : data.entryInfoList(QDir::Files, QDir::Name)) {
                QFile content(file.filePath());
                content.open(QIODevice::ReadOnly);
                state << file.fileName() + QLatin1Char(' ') +
                             file.lastModified().toString(Qt::ISODateWithMs) + QLatin1Char(' ') +
                             QString::fromLatin1(content.readAll().toHex());
            }
            return state;
        };
        const QStringList before = snapshot();

        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(engine, QStringList());
        // It tells the user, and waits in a box for the OK.
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT(
            (told += QString::fromLocal8Bit(second.readAllStandardError()))
                .contains(QLatin1String("Tellaran is already running from this folder")),
            10000);
        QCOMPARE(snapshot(), before);
        second.kill();
        QVERIFY(second.waitForFinished(5000));

        ::kill(pid_t(first.processId()), SIGTERM);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(!QFile::exists(lock));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
