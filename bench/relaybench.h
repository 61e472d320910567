#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace tellaran::testing {
struct EnginePair;
}

namespace tellaran::bench {

class ProgramsThread;

// Runs the relay benchmark and prints one figure a line on stdout, as "name value unit";
// progress and problems go to stderr.
class RelayBench
{
public:
    // Returns the process exit code: 0 when every payload arrived intact.
    int run();

private:
    // One measured stretch of a run.
    struct Window
    {
        qint64 payloadBytes = 0;
        double seconds = 0;
        double engineCpuSeconds = 0;
        double bytesPerSecond() const { return seconds > 0 ? double(payloadBytes) / seconds : 0; }
    };

    void runPaced(int lineRate, const char* figureName);
    void runUnpaced();
    // Pings of 16 bytes across an established pair: the latency figures.
    void measureLatency(testing::EnginePair& pair, ProgramsThread& programs);

    // Connects `channels` program pairs to the engines of `pair` and calls; false on failure.
    bool setUp(testing::EnginePair& pair, ProgramsThread& programs, int channels);
    // Streams on `channels` channels, warms up, measures `windowMs`, then stops and waits
    // for everything sent to arrive.
    Window stream(ProgramsThread& programs, int channels, int payloadSize, qint64 inFlight,
                  int warmupMs, int windowMs);
    // After a run: every payload intact, nothing reported by the engines.
    void check(const testing::EnginePair& pair, const ProgramsThread& programs, const char* what);

    void fail(const QString& why);
    static void figure(const char* name, double value, const char* unit, int decimals);

    bool failed_ = false;
};

} // namespace tellaran::bench
