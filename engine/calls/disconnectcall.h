#pragma once

#include <QString>

namespace tellaran {

class Engine;

// Shown when the user would end a call while bytes still wait to go to the modem.
QString OutputBufferWarningText();

// Ends the call on the user's request: asks first, stores the dialer's time field as the
// connection time (a failure there does not keep the call up), guards against throwing away
// output still waiting for the modem (the port's buffer and the status window's senddata),
// hangs the modem up, closes the port and ends the program. "Retry" at the guard keeps the
// call up.
void DisconnectCall(Engine& engine);

// Ends the program as DisconnectCall does, without asking and without waiting for output
// (the program is told to end: a logout, Ctrl+C): stores the call's time (a failure goes to
// the log, since nobody may be there to read a box), hangs up, deletes the channel table and
// ends the program.
void DisconnectWithoutAsking(Engine& engine);

} // namespace tellaran
