#pragma once

#include <QString>

class QWidget;

// Window operations shared by the engine's borderless windows.
namespace tellaran {

// "Enabled" keeps the window above ordinary windows, "Disabled" ends that; any other text
// does nothing. The window keeps its position, size and visibility.
void KeepOnTop(const QString& modeText, QWidget* window);

// Lets the user move the window with the mouse as if by its title bar; a maximised window
// stays where it is. Window systems that cannot move windows ignore it.
void DragWindow(QWidget* window);

// Makes a mouse-button press on `handle` (a title label or picture) drag its window.
void DragWindowOnPress(QWidget* handle);

// Hands a file (or an address with a scheme, such as https://...) to the desktop to open
// with its associated program. The outcome is not reported.
void OpenDocument(const QString& path);

} // namespace tellaran
