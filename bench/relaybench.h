#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

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
    void runShare();
    void runUnpaced();
    // `count` pings of 16 bytes on the second channel of an established pair; returns their
    // latencies, sorted.
    std::vector<double> measureLatency(ProgramsThread& programs, int count);
    // The pings while the first channel sends as fast as the engine takes its payloads.
    void measureLatencyUnderBulk(testing::EnginePair& pair, ProgramsThread& programs, int lineRate);
    // Ends a call whose senders are still far ahead of the line.
    static void hangUp(testing::EnginePair& pair);
    // Payload bytes a second of 1000-byte payloads can carry at most on the line.
    static double wireBound(int lineRate);

    // Connects `channels` program pairs to the engines of `pair` and calls; false on failure.
    bool setUp(testing::EnginePair& pair, ProgramsThread& programs, int channels);
    // Streams on `channels` channels from `first` on, warms up, measures `windowMs`, then stops and
    // waits for everything sent to arrive.
    Window stream(ProgramsThread& programs, int first, int channels, int payloadSize,
                  qint64 inFlight, int warmupMs, int windowMs);
    // After a run: every payload intact, nothing reported by the engines.
    void check(const testing::EnginePair& pair, const ProgramsThread& programs, const char* what);

    void fail(const QString& why);
    static void figure(const char* name, double value, const char* unit, int decimals);

    bool failed_ = false;
};

} // namespace tellaran::bench
