#include "engine/commandline.h"
#include "engine/enginerunguard.h"
#include "engine/qtmessageboxes.h"
#include "engine/settings/portdescription.h"
#include "engine/tellaranengine.h"
#include "engine/windows/windowsresources.h"
#include "platform/datafile.h"
#include "platform/desktopsession.h"
#include "platform/programfolder.h"
#include "platform/serialdevices.h"
#include "platform/troubleshootinglog.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <optional>
#include <sys/resource.h>

namespace {

// Every local program takes a descriptor; the system's default soft limit (often 1024) is far
// below what the channel server is meant to carry.
void raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void nameProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tellaran"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELLARAN_VERSION));
}

// The program's folder; an installed engine's per-user folder gets the delivered data files
// it lacks, after which the first-run set-up works there as beside a program.
tellaran::programfolder::Locations prepareProgramFolder()
{
    using namespace tellaran::programfolder;
    const Locations where = locate();
    if (where.perUser) {
        for (const QString& problem :
             seedMissingFiles(where.deliveredDataDir, where.programDir + QStringLiteral("/data")))
            qWarning("A delivered data file could not be copied: %s", qPrintable(problem));
    }
    return where;
}

// A question only: the data folder is neither made nor seeded. Before the first start of an
// installed engine, its port map is the delivered one, which that start will copy.
int printPorts()
{
    const tellaran::programfolder::Locations where = tellaran::programfolder::locate();
    QString mapFile = where.programDir + QStringLiteral("/data/ports.dat");
    if (where.perUser && !QFileInfo::exists(mapFile))
        mapFile = where.deliveredDataDir + QStringLiteral("/ports.dat");
    QByteArray content;
    const bool exists = QFileInfo::exists(mapFile);
    QString error;
    if (exists && !tellaran::datafile::readFile(mapFile, &content, &error)) {
        tellaran::commandline::print(tellaran::commandline::Outcome{
            true, 1, QString(), QStringLiteral("Cannot read %1: %2\n").arg(mapFile, error)});
        return 1;
    }
    tellaran::commandline::Outcome outcome;
    outcome.output = tellaran::PortsReport(mapFile, exists, tellaran::portmap::readPortMap(content),
                                           tellaran::detectSerialDevices());
    tellaran::commandline::print(outcome);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    raiseOpenFileLimit();
    tellaran::troubleshooting::LogFile logFile;
    // The options are read before the windows exist, so that --help, --version and --ports
    // work where there is no display.
    if (argc > 1) {
        QCoreApplication console(argc, argv);
        nameProgram();
        const tellaran::EngineCommandLine commandLine =
            tellaran::ParseEngineCommandLine(QCoreApplication::arguments());
        if (commandLine.outcome.finished) {
            tellaran::commandline::print(commandLine.outcome);
            return commandLine.outcome.exitCode;
        }
        if (commandLine.ports)
            return printPorts();
        if (commandLine.log) {
            tellaran::troubleshooting::switchOn();
            QString error;
            if (!commandLine.logFile.isEmpty() && !logFile.open(commandLine.logFile, &error)) {
                tellaran::commandline::print(tellaran::commandline::Outcome{
                    true, 1, QString(),
                    QStringLiteral("Tellaran: cannot write the log %1: %2\n")
                        .arg(commandLine.logFile, error)});
                return 1;
            }
        }
    }
    tellaran::troubleshooting::useTimedMessages();

    if (!tellaran::desktopsession::prepareWindowSystem(QStringLiteral("Tellaran")))
        return 1;
    std::optional<tellaran::desktopsession::StartGuard> windowSystemGuard(
        std::in_place, QStringLiteral("Tellaran"));
    QApplication application(argc, argv);
    windowSystemGuard.reset();
    nameProgram();
    QGuiApplication::setDesktopFileName(QStringLiteral("tellaran"));
    tellaran::InitWindowsResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/windows/emblem.svg")));
    // The engine decides when the program ends (a close picture, the disconnect, the line
    // dropping); hidden windows such as the status window live on between visible ones.
    QApplication::setQuitOnLastWindowClosed(false);

    // One engine per data folder: the lock comes before any data file is touched.
    tellaran::EngineRunGuard guard;
    tellaran::QtMessageBoxes boxes;
    if (!guard.lockDataFolder(tellaran::programfolder::locate().programDir, boxes))
        return 1;
    const tellaran::programfolder::Locations where = prepareProgramFolder();
    tellaran::TellaranEngine::Options options;
    options.programDir = where.programDir;
    options.helpFile = where.helpFile;
    options.onEnd = [&guard] { guard.endProgram(); };
    tellaran::TellaranEngine engine(std::move(options));
    guard.endOnTerminationSignals(engine);
    engine.start();
    return application.exec();
}
