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
// Long enough to measure a ping that waited behind a whole bulk transfer.
constexpr int PingTimeoutMs = 120000;

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
// Under bulk: 80 pings, 20 s of samples, while another channel sends as fast as the engine
// takes its payloads. The sender keeps far more in flight than the engine queues for one
// program, so the engine, not the sender, decides what goes on the line.
constexpr int BulkPingCount = 80;
constexpr qint64 BulkInFlight = 256 * 1024;
constexpr int BulkWarmupMs = 2000;
// Fair shares: four senders on four channels, each always ahead of the line.
constexpr int ShareChannels = 4;
constexpr qint64 ShareInFlight = 64 * 1024;
constexpr int ShareWarmupMs = 2000;
constexpr int ShareWindowMs = 30000;

// Line time of one link frame carrying `payload` bytes, at `lineRate` bit/s.
double frameLineMs(int payload, int lineRate)
{
    return (payload + LinkFrameOverhead) * 10.0 * 1000.0 / lineRate;
}

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
    runShare();
    runPaced(115200, "paced_efficiency_115200");
    runUnpaced();
    return failed_ ? 1 : 0;
}

void RelayBench::runPaced(int lineRate, const char* figureName)
{
    progress(QStringLiteral("paced line at %1 bit/s").arg(lineRate));
    testing::EnginePair pair(lineRate);
    ProgramsThread programs;
    // The stream on the first channel, the pings on the second.
    if (!setUp(pair, programs, 2))
        return;
    const Window window =
        stream(programs, 0, 1, PacedPayload, PacedInFlight, PacedWarmupMs, PacedWindowMs);
    check(pair, programs, figureName);
    figure(figureName, 100.0 * window.bytesPerSecond() / wireBound(lineRate), "%", 1);
    // The latency that matters is a modem's: measured on the default line.
    if (lineRate != 56000)
        return;
    std::vector<double> idle = measureLatency(programs, PingCount);
    check(pair, programs, "latency run");
    figure("latency_p50_ms", percentile(idle, 0.50), "ms", 1);
    figure("latency_p99_ms", percentile(idle, 0.99), "ms", 1);
    const double lineMs = frameLineMs(PingPayload, lineRate);
    for (double& latency : idle)
        latency -= lineMs;
    std::sort(idle.begin(), idle.end());
    figure("latency_over_line_p99_ms", percentile(idle, 0.99), "ms", 1);
    measureLatencyUnderBulk(pair, programs, lineRate);
}

std::vector<double> RelayBench::measureLatency(ProgramsThread& programs, int count)
{
    progress(QStringLiteral("latency: %1 pings of %2 bytes, one every %3 ms")
                 .arg(count)
                 .arg(PingPayload)
                 .arg(PingIntervalMs));
    const size_t before = programs.report().latenciesMs().size();
    programs.post([count](LocalPrograms& p) {
        p.startPings(1, PingIntervalMs, PingSpreadMs, PingPayload, count);
    });
    if (!waitUntil([&] { return programs.report().latenciesMs().size() >= before + size_t(count); },
                   count * PingIntervalMs + PingTimeoutMs))
        fail(QStringLiteral("not every ping arrived"));
    const std::vector<double> all = programs.report().latenciesMs();
    std::vector<double> latencies(all.begin() + qsizetype(std::min(before, all.size())), all.end());
    std::sort(latencies.begin(), latencies.end());
    return latencies;
}

void RelayBench::measureLatencyUnderBulk(testing::EnginePair& pair, ProgramsThread& programs,
                                         int lineRate)
{
    progress(QStringLiteral("latency under bulk: %1 pings while 1000-byte payloads go as fast "
                            "as they can")
                 .arg(BulkPingCount));
    const ProgramReport& report = programs.report();
    const size_t before = report.latenciesMs().size();
    ProgramReport::Arrival start;
    ProgramReport::Arrival end;
    qint64 bulkStart = 0;
    qint64 bulkEnd = 0;
    programs.post([](LocalPrograms& p) { p.startStreaming(0, 1, PacedPayload, BulkInFlight); });
    // The drain never rests while the bulk sender is ahead of the line, and everything here
    // runs inside its waits; so timers run the measurement, and hanging up ends it.
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(20);
    const QDeadlineTimer deadline(BulkWarmupMs + BulkPingCount * PingIntervalMs + PingTimeoutMs);
    QTimer::singleShot(BulkWarmupMs, Qt::PreciseTimer, &loop, [&] {
        start = report.lastArrival();
        bulkStart = report.channels[0].received;
        programs.post([](LocalPrograms& p) {
            p.startPings(1, PingIntervalMs, PingSpreadMs, PingPayload, BulkPingCount);
        });
        poll.start();
    });
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (report.latenciesMs().size() < before + BulkPingCount && !deadline.hasExpired())
            return;
        poll.stop();
        end = report.lastArrival();
        bulkEnd = report.channels[0].received;
        programs.post([](LocalPrograms& p) { p.stopStreaming(); });
        check(pair, programs, "latency under bulk");
        hangUp(pair);
        loop.quit();
    });
    loop.exec();

    const std::vector<double> all = report.latenciesMs();
    std::vector<double> latencies(all.begin() + qsizetype(std::min(before, all.size())), all.end());
    std::sort(latencies.begin(), latencies.end());
    if (latencies.size() < size_t(BulkPingCount))
        fail(QStringLiteral("latency under bulk: %1 of %2 pings arrived")
                 .arg(latencies.size())
                 .arg(BulkPingCount));
    figure("latency_under_bulk_p50_ms", percentile(latencies, 0.50), "ms", 1);
    figure("latency_under_bulk_p99_ms", percentile(latencies, 0.99), "ms", 1);
    const double seconds = double(end.nanoseconds - start.nanoseconds) / 1e9;
    figure("paced_efficiency_shared_56000",
           seconds > 0 ? 100.0 * double(bulkEnd - bulkStart) / seconds / wireBound(lineRate) : 0,
           "%", 1);
}

void RelayBench::runShare()
{
    const int lineRate = 56000;
    progress(QStringLiteral("fair shares: %1 senders on a %2 bit/s line for %3 s")
                 .arg(ShareChannels)
                 .arg(lineRate)
                 .arg(ShareWindowMs / 1000));
    testing::EnginePair pair(lineRate);
    ProgramsThread programs;
    if (!setUp(pair, programs, ShareChannels))
        return;
    const ProgramReport& report = programs.report();
    const auto received = [&] {
        std::vector<qint64> bytes;
        for (int i = 0; i < ShareChannels; ++i)
            bytes.push_back(report.channels[size_t(i)].received);
        return bytes;
    };
    programs.post(
        [](LocalPrograms& p) { p.startStreaming(0, ShareChannels, PacedPayload, ShareInFlight); });
    std::vector<qint64> before;
    std::vector<qint64> after;
    // Timers again: the drain does not rest until the line is taken down.
    QEventLoop loop;
    QTimer::singleShot(ShareWarmupMs, Qt::PreciseTimer, &loop, [&] { before = received(); });
    QTimer::singleShot(ShareWarmupMs + ShareWindowMs, Qt::PreciseTimer, &loop, [&] {
        after = received();
        programs.post([](LocalPrograms& p) { p.stopStreaming(); });
        check(pair, programs, "fair shares");
        hangUp(pair);
        loop.quit();
    });
    loop.exec();

    qint64 total = 0;
    for (int i = 0; i < ShareChannels; ++i)
        total += after[size_t(i)] - before[size_t(i)];
    const double share = double(total) / ShareChannels;
    double spread = 0;
    for (int i = 0; i < ShareChannels; ++i) {
        const double bytes = double(after[size_t(i)] - before[size_t(i)]);
        progress(QStringLiteral("  sender %1: %2 bytes").arg(i + 1).arg(qint64(bytes)));
        spread = std::max(spread, share > 0 ? 100.0 * std::abs(bytes - share) / share : 100.0);
    }
    if (total == 0)
        fail(QStringLiteral("fair shares: nothing arrived"));
    figure("share_spread_percent", spread, "%", 1);
}

void RelayBench::hangUp(testing::EnginePair& pair)
{
    // Closing the port hangs the virtual modem up: the drain stops, and what the senders
    // still have in flight is never sent. Every byte that came was checked on arrival.
    pair.a.engine->modemPort().setPortOpen(false);
}

double RelayBench::wireBound(int lineRate)
{
    return lineRate / 10.0 * PacedPayload / (PacedPayload + LinkFrameOverhead);
}

void RelayBench::runUnpaced()
{
    progress(QStringLiteral("unpaced line"));
    testing::EnginePair pair(0);
    ProgramsThread programs;
    if (!setUp(pair, programs, UnpacedChannels))
        return;

    const Window one =
        stream(programs, 0, 1, UnpacedPayload, UnpacedInFlight, UnpacedWarmupMs, UnpacedWindowMs);
    figure("unpaced_mbps_1ch", one.bytesPerSecond() / 1e6, "MB/s", 2);
    const Window all = stream(programs, 0, UnpacedChannels, UnpacedPayload,
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

RelayBench::Window RelayBench::stream(ProgramsThread& programs, int first, int channels,
                                      int payloadSize, qint64 inFlight, int warmupMs, int windowMs)
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
    programs.post(
        [=](LocalPrograms& p) { p.startStreaming(first, channels, payloadSize, inFlight); });
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
