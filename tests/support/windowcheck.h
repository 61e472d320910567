#pragma once

#include <QPalette>
#include <QStringList>
#include <QTest>

class QWidget;

namespace tellaran::testing {

// A desktop theme's palette, light or dark, as the desktop hands it to every window.
QPalette DesktopPalette(bool dark);

// Walks a shown window as a screen reader and a keyboard user meet it, under a light and
// then a dark desktop palette, and returns what is wrong, one line each, naming the control:
// - the window does not report the window role, or has no name;
// - a control the user works (button, field, list, slider, tab, box) or reads (progress
//   bar) has no accessible name, or an enabled one cannot take the focus;
// - Tab, pressed from control to control all the way round, misses one of them;
// - a visible text contrasts with what lies behind it below 4.5:1, or the mark of a check
//   box or option button below 3:1 between checked and unchecked;
// - a visible label or button caption is cut off, with the desktop's font at 11 points.
// Controls outside the window's visible area are not looked at.
QStringList WindowProblems(QWidget& window);

} // namespace tellaran::testing

// Fails the test, listing them, when the window has any of those problems.
#define VERIFY_NO_WINDOW_PROBLEMS(window)                                                          \
    do {                                                                                           \
        const QStringList windowProblems = tellaran::testing::WindowProblems(window);              \
        QVERIFY2(windowProblems.isEmpty(), qPrintable(windowProblems.join(QLatin1Char('\n'))));    \
    } while (false)
