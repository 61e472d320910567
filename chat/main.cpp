#include "chat/chatprogram.h"
#include "platform/commandline.h"
#include "platform/desktopsession.h"
#include "platform/programfolder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QStandardPaths>
#include <optional>

namespace {

void nameProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("Yarnit"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELLARAN_VERSION));
}

} // namespace

int main(int argc, char* argv[])
{
    // The options are read before the windows exist, so that --help and --version work where
    // there is no display.
    if (argc > 1) {
        QCoreApplication console(argc, argv);
        nameProgram();
        QCommandLineParser parser;
        parser.setApplicationDescription(QStringLiteral(
            "The chat program: two users, each beside a running Tellaran engine, type lines "
            "that appear in both chat windows."));
        tellaran::commandline::Outcome outcome =
            tellaran::commandline::parse(parser, QCoreApplication::arguments());
        if (!outcome.finished && !parser.positionalArguments().isEmpty()) {
            outcome = tellaran::commandline::usageError(
                QStringLiteral("Unexpected argument '%1'.")
                    .arg(parser.positionalArguments().constFirst()));
        }
        if (outcome.finished) {
            tellaran::commandline::print(outcome);
            return outcome.exitCode;
        }
    }

    if (!tellaran::desktopsession::prepareWindowSystem(QStringLiteral("Yarnit")))
        return 1;
    std::optional<tellaran::desktopsession::StartGuard> windowSystemGuard(std::in_place,
                                                                          QStringLiteral("Yarnit"));
    QApplication app(argc, argv);
    windowSystemGuard.reset();
    nameProgram();
    QGuiApplication::setDesktopFileName(QStringLiteral("yarnit"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/chat/yarnit.svg")));
    // The program ends only through its own rules: closing the chat window, or cancelling the
    // nickname window before the chat was shown.
    QApplication::setQuitOnLastWindowClosed(false);

    const tellaran::programfolder::Locations where = tellaran::programfolder::locate();
    yarnit::ChatProgram program(where.programDir);
    if (where.perUser) {
        // Made here, since the nickname file is only ever opened, never its folder; a folder
        // that cannot be made shows as the save's own error.
        QDir().mkpath(where.programDir);
        program.setConversationFolder(
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    }
    program.Start();
    return app.exec();
}
