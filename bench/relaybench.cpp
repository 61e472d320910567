#include "bench/relaybench.h"

#include "bench/programsthread.h"
#include "engine/channels/form2.h"
#include "tests/e2e/enginepair.h"

#include <QDeadlineTimer>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>

namespace tellaran::bench {

namespace {

// Runs the event loop until `done` holds (true) or `timeoutMs` passes (false). Unlike
// QTest::qWaitFor, which sleeps between batches of events, it never holds the engines up.
bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Records in the channel tables of both engines.
qsizetype registeredOnBoth(testing::EnginePair& pair)
{
    return std::min(pair.a.engine->statusWindow().channelTable().records().size(),
                    pair.b.engine->statusWindow().channelTable().records().size());
}

constexpr int CallTimeoutMs = 15000;
constexpr int SetUpTimeoutMs = 10000;
constexpr int DeliveryTimeoutMs = 30000;

// Bytes on the line around a payload: "<modem><" DataID ">" ... "<" DataID "><xodem>" CR,
// and the check value in front ("~" and eight hex digits).
constexpr double CheckValuePrefix = 9;
constexpr double LinkFrameOverhead = 35 + CheckValuePrefix;

constexpr int PacedPayload = 1000;
constexpr qint64 PacedInFlight = 8 * PacedPayload;
constexpr int PacedWarmupMs = 1000;
constexpr int PacedWindowMs = 8000;

constexpr int UnpacedPayload = 4096;
constexpr int UnpacedChannels = 8;
constexpr qint64 UnpacedInFlight = 1024 * 1024;
constexpr int UnpacedWarmupMs = 500;
constexpr int UnpacedWindowMs = 3000;

constexpr int PingIntervalMs = 250;
// Pings are spread over 100 ms, so they meet the engine's 100 ms drain tick at every phase.
constexpr int PingSpreadMs = 100;
constexpr int PingPayload = 16;
constexpr int PingCount = 48;

double engineThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void progress(const QString& text)
{
    std::fprintf(stderr, "relay_bench: %s\n", qPrintable(text));
}

// Nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    const auto rank = size_t(std::ceil(fraction * double(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

} // namespace

int RelayBench::run()
{
    runPaced(56000, "paced_efficiency_56000");
    runPaced(115200, "paced_efficiency_115200");
    runUnpaced();
    return failed_ ? 1 : 0;
}

void RelayBench::runPaced(int lineRate, const char* figureName)
{
    progress(QStringLiteral("paced line at %1 bit/s").arg(lineRate));
    testing::EnginePair pair(lineRate);
    ProgramsThread programs;
    if (!setUp(pair, programs, 1))
        return;
    const Window window =
        stream(programs, 1, PacedPayload, PacedInFlight, PacedWarmupMs, PacedWindowMs);
    check(pair, programs, figureName);
    const double bound = lineRate / 10.0 * PacedPayload / (PacedPayload + LinkFrameOverhead);
    figure(figureName, 100.0 * window.bytesPerSecond() / bound, "%", 1);
    // The latency that matters is a modem's: measured on the default line.
    if (lineRate == 56000)
        measureLatency(pair, programs);
}

void RelayBench::measureLatency(testing::EnginePair& pair, ProgramsThread& programs)
{
    progress(QStringLiteral("latency: %1 pings of %2 bytes, one every %3 ms")
                 .arg(PingCount)
                 .arg(PingPayload)
                 .arg(PingIntervalMs));
    programs.post([](LocalPrograms& p) {
        p.startPings(PingIntervalMs, PingSpreadMs, PingPayload, PingCount);
    });
    if (!waitUntil([&] { return programs.report().latenciesMs().size() >= size_t(PingCount); },
                   PingCount * PingIntervalMs + DeliveryTimeoutMs))
        fail(QStringLiteral("not every ping arrived"));
    check(pair, programs, "latency run");
    std::vector<double> latencies = programs.report().latenciesMs();
    std::sort(latencies.begin(), latencies.end());
    figure("latency_p50_ms", percentile(latencies, 0.50), "ms", 1);
    figure("latency_p99_ms", percentile(latencies, 0.99), "ms", 1);
}

void RelayBench::runUnpaced()
{
    progress(QStringLiteral("unpaced line"));
    testing::EnginePair pair(0);
    ProgramsThread programs;
    if (!setUp(pair, programs, UnpacedChannels))
        return;

    const Window one =
        stream(programs, 1, UnpacedPayload, UnpacedInFlight, UnpacedWarmupMs, UnpacedWindowMs);
    figure("unpaced_mbps_1ch", one.bytesPerSecond() / 1e6, "MB/s", 2);
    const Window all = stream(programs, UnpacedChannels, UnpacedPayload,
                              UnpacedInFlight / UnpacedChannels, UnpacedWarmupMs, UnpacedWindowMs);
    figure("unpaced_mbps_8ch", all.bytesPerSecond() / 1e6, "MB/s", 2);
    check(pair, programs, "unpaced runs");

    const double megabytes = double(one.payloadBytes + all.payloadBytes) / 1e6;
    const double cpu = one.engineCpuSeconds + all.engineCpuSeconds;
    figure("cpu_s_per_mb", megabytes > 0 ? cpu / megabytes : 0, "s/MB", 4);
}

bool RelayBench::setUp(testing::EnginePair& pair, ProgramsThread& programs, int channels)
{
    const quint16 sending = pair.a.engine->channelPort();
    const quint16 receiving = pair.b.engine->channelPort();
    programs.post([=](LocalPrograms& p) { p.open(sending, receiving, channels); });
    if (!waitUntil([&] { return registeredOnBoth(pair) >= channels; }, SetUpTimeoutMs)) {
        fail(QStringLiteral("the local programs could not register (%1 of %2 connections up)")
                 .arg(programs.report().registered.load())
                 .arg(2 * channels));
        return false;
    }
    if (!pair.call(CallTimeoutMs)) {
        fail(QStringLiteral("the engines could not call each other"));
        return false;
    }
    return true;
}

RelayBench::Window RelayBench::stream(ProgramsThread& programs, int channels, int payloadSize,
                                      qint64 inFlight, int warmupMs, int windowMs)
{
    // Payloads arrive whole, so the window runs from one arrival to another: counting
    // bytes between two clock instants would be off by up to a payload.
    struct Sample
    {
        ProgramReport::Arrival arrival;
        double cpu = 0;
    };
    const ProgramReport& report = programs.report();
    const auto sample = [&] { return Sample{report.lastArrival(), engineThreadCpuSeconds()}; };

    progress(QStringLiteral("%1 channel(s), %2-byte payloads: %3 ms warm-up, %4 ms measured")
                 .arg(channels)
                 .arg(payloadSize)
                 .arg(warmupMs)
                 .arg(windowMs));
    programs.post([=](LocalPrograms& p) { p.startStreaming(channels, payloadSize, inFlight); });
    // The samples are taken by timers, which also fire inside the drain's waits.
    Sample start;
    Sample end;
    QEventLoop loop;
    QTimer::singleShot(warmupMs, Qt::PreciseTimer, &loop, [&] { start = sample(); });
    QTimer::singleShot(warmupMs + windowMs, Qt::PreciseTimer, &loop, [&] {
        end = sample();
        programs.post([](LocalPrograms& p) { p.stopStreaming(); });
        loop.quit();
    });
    loop.exec();

    if (!waitUntil([&] { return report.totalReceived() == report.totalSent(); }, DeliveryTimeoutMs))
        fail(QStringLiteral("%1 of %2 payload bytes never arrived")
                 .arg(report.totalSent() - report.totalReceived())
                 .arg(report.totalSent()));

    Window window;
    window.payloadBytes = end.arrival.totalReceived - start.arrival.totalReceived;
    window.seconds = double(end.arrival.nanoseconds - start.arrival.nanoseconds) / 1e9;
    window.engineCpuSeconds = end.cpu - start.cpu;
    progress(QStringLiteral("  %1 payload bytes in %2 s, engines' CPU %3 s")
                 .arg(window.payloadBytes)
                 .arg(window.seconds, 0, 'f', 3)
                 .arg(window.engineCpuSeconds, 0, 'f', 3));
    return window;
}

void RelayBench::check(const testing::EnginePair& pair, const ProgramsThread& programs,
                       const char* what)
{
    const ProgramReport& report = programs.report();
    if (report.corruptReads > 0)
        fail(QStringLiteral("%1: %2 reads were not the bytes sent")
                 .arg(QLatin1StringView(what))
                 .arg(report.corruptReads.load()));
    if (report.socketErrors > 0)
        fail(QStringLiteral("%1: %2 socket errors")
                 .arg(QLatin1StringView(what))
                 .arg(report.socketErrors.load()));
    for (const testing::TestComputer* computer : {&pair.a, &pair.b}) {
        for (const QString& text : computer->boxes->texts())
            fail(QStringLiteral("%1: %2 showed \"%3\"")
                     .arg(QLatin1StringView(what), computer->line, text));
        if (computer->ended > 0)
            fail(QStringLiteral("%1: %2 ended").arg(QLatin1StringView(what), computer->line));
    }
}

void RelayBench::fail(const QString& why)
{
    failed_ = true;
    progress(QStringLiteral("FAILED: ") + why);
}

void RelayBench::figure(const char* name, double value, const char* unit, int decimals)
{
    std::printf("%s %.*f %s\n", name, decimals, value, unit);
    std::fflush(stdout);
}

} // namespace tellaran::bench
