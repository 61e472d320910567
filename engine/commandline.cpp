#include "engine/commandline.h"

#include <QCommandLineParser>

namespace tellaran {

EngineCommandLine ParseEngineCommandLine(QStringList arguments)
{
    // "--log" takes its file only when one follows, which the parser cannot say of an option:
    // the file comes as the one argument the engine otherwise never takes.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(QLatin1String("--log="))) {
            const QString file = arguments[i].mid(6);
            arguments[i] = QStringLiteral("--log");
            arguments.insert(i + 1, file);
        }
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The engine: owns the modem, places and answers calls, and relays the data of local "
        "programs (channel server on TCP port 6789)."));
    const QCommandLineOption ports(
        QStringLiteral("ports"),
        QStringLiteral("Print what the port numbers mean on this computer: the records of the "
                       "port map, ports 1 to 4 without one, and the serial devices found."));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Write the troubleshooting log (the modem dialogue with the time, local "
                       "connections, frames on the link, the virtual modem's calls) to the "
                       "standard error stream, or to a file: --log FILE or --log=FILE."));
    parser.addOption(ports);
    parser.addOption(log);
    // The file of --log is taken as a positional argument, but it is not one of the program's
    // own, so the usage line does not show it.

    EngineCommandLine result;
    result.outcome = commandline::parse(parser, arguments);
    if (result.outcome.finished)
        return result;
    const QStringList rest = parser.positionalArguments();
    result.log = parser.isSet(log);
    if (!rest.isEmpty() && (!result.log || rest.size() > 1)) {
        result.outcome = commandline::usageError(
            QStringLiteral("Unexpected argument '%1'.").arg(rest.constLast()));
        return result;
    }
    if (result.log && !rest.isEmpty()) {
        result.logFile = rest.constFirst();
        if (result.logFile.isEmpty()) {
            result.outcome = commandline::usageError(QStringLiteral("--log needs a file name."));
            return result;
        }
    }
    result.ports = parser.isSet(ports);
    return result;
}

} // namespace tellaran
