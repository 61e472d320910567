#pragma once

#include <QWidget>

namespace tellaran::testing {

// A window's control by its name; a missing control ends the test run at once.
template <class T> T* control(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

template <class T> T* control(QWidget* window, const char* name)
{
    return control<T>(*window, name);
}

} // namespace tellaran::testing
