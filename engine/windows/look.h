#pragma once

class QPalette;
class QWidget;

// The one look of the engine's windows. They are light, drawn over their own pictures, and
// keep that look under any desktop theme: each window takes the look's palette and style
// sheet, so no text colour of a dark theme lands on a light picture. Message boxes and
// other standard dialogs keep the desktop's own palette, which is whole in itself.
namespace tellaran {

// Every colour role of every group: nothing is left for the desktop's palette to fill in.
QPalette LookPalette();

// Gives a window (and so its controls) the look, and makes sure screen readers see it as a
// window. Called once by each window as it loads.
void ApplyLook(QWidget* window);

} // namespace tellaran
