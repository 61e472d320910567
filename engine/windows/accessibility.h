#pragma once

// How screen readers see the engine's own kinds of controls and windows: a picture button as
// a button (or link, or menu item) with a press action, and each engine window as a window.
namespace tellaran {

// Registers the interfaces with Qt, once per process; calling it again does nothing.
void InstallAccessibleInterfaces();

} // namespace tellaran
