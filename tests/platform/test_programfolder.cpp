// Where a program keeps its files: beside itself when run from a folder of its own, in the
// per-user folder when installed; the delivered files that folder gets; the user guide; the
// troubleshooting log file.
#include "platform/commandline.h"
#include "platform/programfolder.h"
#include "platform/troubleshootinglog.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace tellaran;

Q_LOGGING_CATEGORY(lcTestLog, "tellaran.test", QtWarningMsg)

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestProgramFolder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void portableAndInstalledPrograms()
    {
        QTemporaryDir root;
        const QString perUser = root.filePath(QStringLiteral("home/.local/share/Tellaran"));

        // A build folder or a copied folder: the data stay beside the program.
        const QString portable = root.filePath(QStringLiteral("portable"));
        QVERIFY(QDir().mkpath(portable + QStringLiteral("/data")));
        QCOMPARE(programfolder::chooseProgramFolder(portable, perUser), portable);
        QCOMPARE(programfolder::deliveredDataFolder(portable), portable + QStringLiteral("/data"));

        // An install tree, even one its user could write to: never written.
        const QString bin = root.filePath(QStringLiteral("usr/bin"));
        QVERIFY(QDir().mkpath(bin));
        QVERIFY(!programfolder::isInstalled(bin));
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("usr/share/tellaran/data"))));
        QVERIFY(programfolder::isInstalled(bin));
        QCOMPARE(programfolder::chooseProgramFolder(bin, perUser), perUser);
        QCOMPARE(programfolder::deliveredDataFolder(bin),
                 root.filePath(QStringLiteral("usr/share/tellaran/data")));
    }

    void unwritableFolderUsesThePerUserFolder()
    {
        if (geteuid() == 0)
            QSKIP("root may write into any folder");
        QTemporaryDir root;
        const QString folder = root.filePath(QStringLiteral("readonly"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(programfolder::chooseProgramFolder(folder, QStringLiteral("/per-user")),
                 QStringLiteral("/per-user"));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void seedingCopiesOnlyWhatIsMissing()
    {
        QTemporaryDir root;
        const QString delivered = root.filePath(QStringLiteral("share/data"));
        writeFile(delivered + QStringLiteral("/data.dat"), "delivered settings");
        writeFile(delivered + QStringLiteral("/ports.dat"), "delivered ports");
        writeFile(delivered + QStringLiteral("/programs.dat"), "delivered programs");
        // Installed files are read-only; the user's copies must not be.
        for (const char* name : {"data.dat", "ports.dat", "programs.dat"})
            QFile::setPermissions(delivered + QLatin1Char('/') + QLatin1String(name),
                                  QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        const QString target = root.filePath(QStringLiteral("home/Tellaran/data"));
        writeFile(target + QStringLiteral("/ports.dat"), "the user's own ports");

        QCOMPARE(programfolder::seedMissingFiles(delivered, target), QStringList());
        QCOMPARE(readFile(target + QStringLiteral("/data.dat")), QByteArray("delivered settings"));
        QCOMPARE(readFile(target + QStringLiteral("/ports.dat")),
                 QByteArray("the user's own ports"));
        QVERIFY(QFileInfo(target + QStringLiteral("/programs.dat"))
                    .permissions()
                    .testFlag(QFile::WriteOwner));
        // No temporary file is left behind.
        QCOMPARE(QDir(target).entryList(QDir::Files).size(), 3);

        // A later run copies again only what went missing.
        QVERIFY(QFile::remove(target + QStringLiteral("/programs.dat")));
        writeFile(target + QStringLiteral("/data.dat"), "edited");
        QCOMPARE(programfolder::seedMissingFiles(delivered, target), QStringList());
        QCOMPARE(readFile(target + QStringLiteral("/data.dat")), QByteArray("edited"));
        QCOMPARE(readFile(target + QStringLiteral("/programs.dat")),
                 QByteArray("delivered programs"));

        // A link left where a file should be is neither followed nor replaced.
        QVERIFY(QFile::remove(target + QStringLiteral("/programs.dat")));
        QVERIFY(QFile::link(root.filePath(QStringLiteral("elsewhere")),
                            target + QStringLiteral("/programs.dat")));
        QCOMPARE(programfolder::seedMissingFiles(delivered, target), QStringList());
        QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("elsewhere"))));

        // Nothing delivered, or the same folder: nothing to do.
        QCOMPARE(programfolder::seedMissingFiles(root.filePath(QStringLiteral("none")), target),
                 QStringList());
        QCOMPARE(programfolder::seedMissingFiles(target, target), QStringList());

        // A target that cannot be a folder is reported.
        writeFile(root.filePath(QStringLiteral("blocked")), "a file");
        QCOMPARE(programfolder::seedMissingFiles(delivered,
                                                 root.filePath(QStringLiteral("blocked/data")))
                     .size(),
                 1);
    }

    void helpFileBesideOrInstalled()
    {
        QTemporaryDir root;
        const QString bin = root.filePath(QStringLiteral("usr/bin"));
        QVERIFY(QDir().mkpath(bin));
        QCOMPARE(programfolder::findHelpFile(bin), bin + QStringLiteral("/help.html"));
        const QString installed = root.filePath(QStringLiteral("usr/share/tellaran/help.html"));
        writeFile(installed, "guide");
        QCOMPARE(programfolder::findHelpFile(bin), installed);
        writeFile(bin + QStringLiteral("/help.html"), "guide beside");
        QCOMPARE(programfolder::findHelpFile(bin), bin + QStringLiteral("/help.html"));
    }

    void logFileTakesTimedLines()
    {
        QTemporaryDir root;
        const QString path = root.filePath(QStringLiteral("engine.log"));
        troubleshooting::useTimedMessages();
        {
            troubleshooting::LogFile log;
            QString error;
            QVERIFY(log.open(path, &error));
            troubleshooting::LogFile second;
            QVERIFY(!second.open(root.filePath(QStringLiteral("other.log")), &error));
            qCDebug(lcTestLog) << "off by default";
            troubleshooting::switchOn();
            qCDebug(lcTestLog).noquote()
                << "from the modem:" << troubleshooting::printable("OK\r\n\x01\\");
            qCWarning(lcTestLog) << "a warning";
        }
        qCDebug(lcTestLog) << "after the log closed";
        QLoggingCategory::setFilterRules(QString());
        qSetMessagePattern(QString());

        const QStringList lines =
            QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QRegularExpression timed(QStringLiteral(
            R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tellaran\.test (warning: )?(.*)$)"));
        QCOMPARE(timed.match(lines[0]).captured(2),
                 QStringLiteral("from the modem: OK\\r\\n\\x01\\\\"));
        QCOMPARE(timed.match(lines[1]).captured(1), QStringLiteral("warning: "));

        QString error;
        troubleshooting::LogFile unwritable;
        QVERIFY(!unwritable.open(root.filePath(QStringLiteral("no/such/folder/x.log")), &error));
        QVERIFY(!error.isEmpty());
    }

    // Qt's own options reach the program's arguments too; they are not the program's to refuse.
    void qtOptionsArePassedOver()
    {
        const QStringList arguments = {QStringLiteral("Tellaran"), QStringLiteral("-platform"),
                                       QStringLiteral("xcb"),      QStringLiteral("--style=fusion"),
                                       QStringLiteral("-reverse"), QStringLiteral("--ports"),
                                       QStringLiteral("-geometry")};
        QCOMPARE(commandline::withoutQtOptions(arguments),
                 (QStringList{QStringLiteral("Tellaran"), QStringLiteral("--ports")}));
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "test_programfolder.moc"
