#include "platform/desktopsession.h"

#include <QList>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tellaran::desktopsession {

namespace {

// Qt's message handler is a plain function, so what it needs while the guard lives is
// kept here; only one guard exists at a time, in main().
struct GuardState
{
    QString programName;
    // The window system's messages, held back until it is known whether it started.
    QList<std::pair<QtMsgType, QString>> windowSystemMessages;
    QtMessageHandler previous = nullptr;
};

GuardState& guardState()
{
    static GuardState state;
    return state;
}

void printLine(const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

void guardHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    GuardState& state = guardState();
    const bool windowSystem = context.category && QByteArray(context.category).startsWith("qt.qpa");
    if (type == QtFatalMsg) {
        // Qt's own text names plugins and suggests reinstalling; what the window system
        // said before it is the reason.
        const QString reason = state.windowSystemMessages.isEmpty()
                                   ? message.section(QLatin1Char('\n'), 0, 0)
                                   : state.windowSystemMessages.constFirst().second;
        printLine(QStringLiteral("%1: cannot open its windows: %2. Start it in a desktop "
                                 "session.")
                      .arg(state.programName, reason));
        std::_Exit(1);
    }
    if (windowSystem) {
        state.windowSystemMessages.append({type, message});
        return;
    }
    if (state.previous)
        state.previous(type, context, message);
}

} // namespace

WindowSystemChoice chooseWindowSystem(const QByteArray& qtPlatform, const QByteArray& display,
                                      const QByteArray& waylandDisplay,
                                      const QByteArray& sessionType, const QString& programName)
{
    WindowSystemChoice choice;
    // Chosen by the user, or by a test running offscreen.
    if (!qtPlatform.isEmpty())
        return choice;
    const bool wayland = !waylandDisplay.isEmpty() || sessionType == "wayland";
    if (!display.isEmpty()) {
        if (wayland)
            choice.platform = "xcb";
        return choice;
    }
    if (!waylandDisplay.isEmpty()) {
        choice.platform = "wayland";
        return choice;
    }
    choice.error = QStringLiteral("%1: there is no display (DISPLAY and WAYLAND_DISPLAY are not "
                                  "set). Start it in a desktop session.")
                       .arg(programName);
    return choice;
}

bool prepareWindowSystem(const QString& programName)
{
    const WindowSystemChoice choice =
        chooseWindowSystem(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"),
                           qgetenv("WAYLAND_DISPLAY"), qgetenv("XDG_SESSION_TYPE"), programName);
    if (!choice.error.isEmpty()) {
        printLine(choice.error);
        return false;
    }
    if (!choice.platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", choice.platform);
    return true;
}

StartGuard::StartGuard(const QString& programName)
{
    GuardState& state = guardState();
    state.programName = programName;
    state.windowSystemMessages.clear();
    state.previous = qInstallMessageHandler(guardHandler);
}

StartGuard::~StartGuard()
{
    GuardState& state = guardState();
    qInstallMessageHandler(state.previous);
    const QMessageLogContext context;
    for (const auto& [type, message] : std::as_const(state.windowSystemMessages))
        state.previous(type, context, message);
    state.windowSystemMessages.clear();
}

} // namespace tellaran::desktopsession
