#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace tellaran {

class Engine;
class MessageBoxService;
class TerminationSignals;

// What keeps one run of the engine safe from the outside: one engine at a time on a data
// folder, and the signals that tell a program to end (a logout, Ctrl+C, a closed terminal)
// ending the call as Disconnect does instead of killing the program on the spot. Its
// construction also tells the allocator to give freed memory back to the system promptly.
class EngineRunGuard
{
public:
    EngineRunGuard();
    ~EngineRunGuard();
    EngineRunGuard(const EngineRunGuard&) = delete;
    EngineRunGuard& operator=(const EngineRunGuard&) = delete;

    static QString lockFilePath(const QString& programDir);

    // Takes the lock file in programDir's data folder (creating the folder when missing),
    // before any data file is touched. When another engine holds it, the user is told, in a
    // box and on the standard error stream, and false is returned: the program then ends
    // without touching anything. The lock goes with the guard.
    bool lockDataFolder(const QString& programDir, MessageBoxService& boxes);

    // From now on SIGTERM, SIGINT and SIGHUP end `engine` with DisconnectWithoutAsking.
    void endOnTerminationSignals(Engine& engine);

    // The end hook of the program: leaves the event loop, or, when the program ends from
    // inside an open box, ends the process at once, with the lock given back. Leaving the
    // box's own event loop would let what waits behind the box go on (a first-run set-up
    // writing its files, a call being dialed) after the engine has shut down.
    void endProgram();

private:
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<TerminationSignals> signals_;
};

} // namespace tellaran
