#include "ferry/ferrywindow.h"
#include "platform/commandline.h"
#include "platform/desktopsession.h"
#include "platform/programfolder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <optional>

namespace {

void nameProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("Ferryit"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELLARAN_VERSION));
}

} // namespace

int main(int argc, char* argv[])
{
    // The options are read before the windows exist, so that --help, --version and a file
    // that is not there are answered where there is no display.
    QStringList files;
    if (argc > 1) {
        QCoreApplication console(argc, argv);
        nameProgram();
        QCommandLineParser parser;
        parser.setApplicationDescription(QStringLiteral(
            "The file program: sends files to the Ferryit on the other computer, over the "
            "call of a running Tellaran engine, and receives the files it sends."));
        parser.addPositionalArgument(
            QStringLiteral("files"),
            QStringLiteral("Files to send as soon as the engine is reached."),
            QStringLiteral("[file...]"));
        tellaran::commandline::Outcome outcome =
            tellaran::commandline::parse(parser, QCoreApplication::arguments());
        if (!outcome.finished) {
            for (const QString& file : parser.positionalArguments()) {
                const QFileInfo info(file);
                if (!info.isFile()) {
                    outcome = tellaran::commandline::usageError(
                        QStringLiteral("No file '%1' to send.").arg(file));
                    break;
                }
                files << info.absoluteFilePath();
            }
        }
        if (outcome.finished) {
            tellaran::commandline::print(outcome);
            return outcome.exitCode;
        }
    }

    if (!tellaran::desktopsession::prepareWindowSystem(QStringLiteral("Ferryit")))
        return 1;
    std::optional<tellaran::desktopsession::StartGuard> windowSystemGuard(
        std::in_place, QStringLiteral("Ferryit"));
    QApplication app(argc, argv);
    windowSystemGuard.reset();
    nameProgram();
    QGuiApplication::setDesktopFileName(QStringLiteral("ferryit"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/ferry/ferryit.svg")));
    QApplication::setQuitOnLastWindowClosed(false);

    const tellaran::programfolder::Locations where = tellaran::programfolder::locate();
    if (where.perUser)
        QDir().mkpath(where.programDir);
    ferryit::FerryWindow window(where.programDir);
    window.show();
    window.connectToEngine();
    window.sendFiles(files);
    return app.exec();
}
