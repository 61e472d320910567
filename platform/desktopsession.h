#pragma once

#include <QByteArray>
#include <QString>

// Starting a program's windows: which window system to use, and a clear one-line error,
// with exit code 1, where there is none (instead of Qt's abort).
//
// Under Wayland the programs run on XWayland: their windows place themselves (the status
// window in the top-left corner, the programs menu under it) and stay on top, which Wayland
// does not let a program do. Only without XWayland do they use Wayland itself.
namespace tellaran::desktopsession {

struct WindowSystemChoice
{
    // The platform to set as QT_QPA_PLATFORM ("xcb", "wayland"); empty: leave it to Qt.
    QByteArray platform;
    // Set when there is no display at all: the one line to print.
    QString error;
};

// The decision, from the environment's values (empty when unset).
WindowSystemChoice chooseWindowSystem(const QByteArray& qtPlatform, const QByteArray& display,
                                      const QByteArray& waylandDisplay,
                                      const QByteArray& sessionType, const QString& programName);

// Applies the decision to this process's environment. Returns false after printing the
// error line when there is no display. Call before the application object exists.
bool prepareWindowSystem(const QString& programName);

// While it lives, a window system that cannot be reached ends the program with one line on
// the standard error stream and exit code 1, not with Qt's abort. Lives around the
// construction of the application object only; the window system's own warnings from that
// time are printed when it ends (there was a display after all).
class StartGuard
{
public:
    explicit StartGuard(const QString& programName);
    ~StartGuard();
    StartGuard(const StartGuard&) = delete;
    StartGuard& operator=(const StartGuard&) = delete;
};

} // namespace tellaran::desktopsession
