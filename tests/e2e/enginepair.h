#pragma once

#include "engine/tellaranengine.h"
#include "tests/support/scriptedmessageboxes.h"

#include <QTemporaryDir>
#include <memory>

namespace tellaran::testing {

// One engine of a test "computer": its own program folder (with the delivered settings
// and a port map that puts port 1 on a virtual modem line), its own channel port, scripted
// message boxes, and an end hook that only records.
struct TestComputer
{
    // `backendFactory`, when given, builds the port's device instead of the port map's
    // virtual modem.
    TestComputer(const QString& name, const QString& exchangeDir, int lineRate,
                 SerialEnvironment::BackendFactory backendFactory = {});

    QString line;
    QTemporaryDir dir;
    std::shared_ptr<ScriptedMessageBoxes> boxes;
    int ended = 0;
    std::unique_ptr<TellaranEngine> engine;
};

// Two engines joined through one exchange folder, as two computers on one phone network.
struct EnginePair
{
    // lineRate: bit/s of both virtual modems; 0 unpaced.
    explicit EnginePair(int lineRate = 0);

    // B waits for calls (answer command), A dials B. Returns when both are connected, or
    // false after `timeoutMs`.
    bool call(int timeoutMs = 10000);

    QTemporaryDir exchange;
    TestComputer a;
    TestComputer b;
};

} // namespace tellaran::testing
