#include "platform/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace tellaran::commandline {

QStringList withoutQtOptions(const QStringList& arguments)
{
    static const QStringList withValue = {QStringLiteral("platform"),
                                          QStringLiteral("platformpluginpath"),
                                          QStringLiteral("platformtheme"),
                                          QStringLiteral("plugin"),
                                          QStringLiteral("qwindowgeometry"),
                                          QStringLiteral("qwindowtitle"),
                                          QStringLiteral("qwindowicon"),
                                          QStringLiteral("display"),
                                          QStringLiteral("geometry"),
                                          QStringLiteral("style"),
                                          QStringLiteral("stylesheet"),
                                          QStringLiteral("session"),
                                          QStringLiteral("name"),
                                          QStringLiteral("title"),
                                          QStringLiteral("visual")};
    static const QStringList flags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                      QStringLiteral("nograb"), QStringLiteral("dograb"),
                                      QStringLiteral("sync")};
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        // Qt takes "-style" and "--style", and "-style=x" as well as "-style x".
        QString name = argument;
        if (i == 0 || !name.startsWith(QLatin1Char('-'))) {
            kept.append(argument);
            continue;
        }
        name.remove(0, name.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        if (equals >= 0 && withValue.contains(name.left(equals)))
            continue;
        if (withValue.contains(name)) {
            ++i;
            continue;
        }
        if (!flags.contains(name))
            kept.append(argument);
    }
    return kept;
}

Outcome parse(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(withoutQtOptions(arguments)))
        return usageError(parser.errorText());
    Outcome outcome;
    if (parser.isSet(help)) {
        outcome.finished = true;
        outcome.output = parser.helpText();
        // The usage line names the program as it is called from the menu or a shell, not by
        // the path it was started from.
        const QString started = QCoreApplication::arguments().value(0);
        const QString name = QFileInfo(started).fileName();
        if (!started.isEmpty() && started != name)
            outcome.output.replace(QStringLiteral("Usage: ") + started,
                                   QStringLiteral("Usage: ") + name);
    } else if (parser.isSet(version)) {
        outcome.finished = true;
        outcome.output = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                       QCoreApplication::applicationVersion());
    }
    return outcome;
}

Outcome usageError(const QString& message)
{
    Outcome outcome;
    outcome.finished = true;
    outcome.exitCode = UsageError;
    outcome.error = QStringLiteral("%1: %2\nTry '%1 --help' for the options.\n")
                        .arg(QCoreApplication::applicationName(), message);
    return outcome;
}

void print(const Outcome& outcome)
{
    if (!outcome.output.isEmpty()) {
        std::fputs(outcome.output.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    }
    if (!outcome.error.isEmpty()) {
        std::fputs(outcome.error.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
}

} // namespace tellaran::commandline
