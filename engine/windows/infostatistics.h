#pragma once

#include <QString>
#include <QtGlobal>

namespace tellaran {

struct TrafficCounters;

// The info box's display: six statistics, one a second while the panel stands open.
struct InfoStatistic
{
    QString name;
    QString value;
};

// Decimal, with one leading blank for a value that is not negative (" 0", " 600", "-3").
QString NumberText(qint64 value);

// Both directions together, in bits per second over the connected time: " 600 bps" for 4800
// bytes in 64 seconds. With no connected time yet there is no speed to give: " 0 bps".
QString AverageSpeedText(qint64 bytesSent, qint64 bytesReceived, qint64 connectedSeconds);

// The display tick: the step goes 1 to 6, then starts again. Returns the statistic to show.
int AdvanceStatisticStep(int& step);
constexpr int CompressionStep = 5;

// What the panel shows at `step` (1 to 6). `compression` is only read at its own step.
InfoStatistic StatisticAt(int step, const TrafficCounters& counters, bool compression,
                          qint64 connectedSeconds);

} // namespace tellaran
