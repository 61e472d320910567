#pragma once

#include <functional>

class QPushButton;
class QWidget;

// Enter and Escape in the engine's borderless windows, which are not dialogs and so get
// neither from Qt. Keys that no control of the window takes for itself reach the window:
namespace tellaran {

// Enter presses the focused push button, or else `button`, which also shows as the default.
void SetDefaultButton(QWidget* window, QPushButton* button);

// Escape runs `action`: what the window's close picture or its "Cancel" does.
void OnEscape(QWidget* window, std::function<void()> action);

} // namespace tellaran
