#pragma once

namespace tellaran {

// Registers the call windows' pictures; a static library's resources register only when
// asked to. Asking again is harmless.
void InitCallsResources();

} // namespace tellaran
