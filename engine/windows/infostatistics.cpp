#include "engine/windows/infostatistics.h"

#include "engine/engine.h"

namespace tellaran {

namespace {

constexpr int StatisticCount = 6;

} // namespace

QString NumberText(qint64 value)
{
    const QString digits = QString::number(value);
    return value >= 0 ? QLatin1Char(' ') + digits : digits;
}

QString AverageSpeedText(qint64 bytesSent, qint64 bytesReceived, qint64 connectedSeconds)
{
    const qint64 bitsPerSecond =
        connectedSeconds > 0 ? 8 * (bytesSent + bytesReceived) / connectedSeconds : 0;
    return NumberText(bitsPerSecond) + QStringLiteral(" bps");
}

int AdvanceStatisticStep(int& step)
{
    ++step;
    if (step < 1 || step > StatisticCount)
        step = 1;
    const int shown = step;
    if (step == StatisticCount)
        step = 0;
    return shown;
}

InfoStatistic StatisticAt(int step, const TrafficCounters& counters, bool compression,
                          qint64 connectedSeconds)
{
    switch (step) {
    case 1:
        return {QStringLiteral("Data channels"), NumberText(counters.noofchan)};
    case 2:
        return {QStringLiteral("Bytes sent"), NumberText(counters.bytessent)};
    case 3:
        return {QStringLiteral("Bytes received"), NumberText(counters.bytesreceived)};
    case 4:
        return {QStringLiteral("File transfers"), NumberText(counters.nooftrans)};
    case CompressionStep:
        return {QStringLiteral("Compression"),
                compression ? QStringLiteral("V.42 bis, MNP Level 5") : QStringLiteral("None")};
    default:
        return {QStringLiteral("Average speed"),
                AverageSpeedText(counters.bytessent, counters.bytesreceived, connectedSeconds)};
    }
}

} // namespace tellaran
