#pragma once

namespace tellaran {

// Registers the launcher windows' pictures; a static library's resources register only when
// asked to. Asking again is harmless.
void InitLauncherResources();

} // namespace tellaran
