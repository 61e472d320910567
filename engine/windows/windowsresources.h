#pragma once

namespace tellaran {

// Registers the pictures of the info box, message, about and splash windows; a static
// library's resources register only when asked to. Asking again is harmless.
void InitWindowsResources();

} // namespace tellaran
