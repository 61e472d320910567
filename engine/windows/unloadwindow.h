#pragma once

#include <QPointer>

namespace tellaran {

// Forgets a window at once and deletes it once control is back in the event loop: the unload
// may be asked for from one of the window's own handlers.
template <typename Window> void UnloadWindow(QPointer<Window>& window)
{
    Window* going = window.data();
    window = nullptr;
    if (going) {
        going->hide();
        going->deleteLater();
    }
}

} // namespace tellaran
