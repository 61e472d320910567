#pragma once

#include <functional>

class QWidget;

namespace tellaran {

// Runs `action` when the left mouse button is released over `image` (a picture acting as a
// button: close images, key pad keys), and, for a PictureButton, whenever it is pressed. The action
// may unload the window: it runs from an event filter owned by the image, which deletes nothing
// itself.
void OnImageClick(QWidget* image, std::function<void()> action);

} // namespace tellaran
