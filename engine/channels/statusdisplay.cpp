#include "engine/channels/statusdisplay.h"

#include <QTime>

namespace tellaran {

namespace {

QString twoDigits(qint64 number)
{
    return QString::number(number).rightJustified(2, QLatin1Char('0'));
}

} // namespace

QString SpeedLine(qint64 charactersPerSecond)
{
    return QStringLiteral("Speed : ") + twoDigits(charactersPerSecond * 8 / 1000) +
           QStringLiteral("Kbps");
}

qint64 ElapsedSeconds(const QDateTime& start, const QDateTime& now)
{
    if (!start.isValid() || !now.isValid())
        return 0;
    return qMax<qint64>(0, start.secsTo(now));
}

QString ConnectionTimeText(qint64 seconds)
{
    seconds = qMax<qint64>(0, seconds);
    return twoDigits(seconds / 3600) + QLatin1Char(':') + twoDigits(seconds % 3600 / 60) +
           QLatin1Char(':') + twoDigits(seconds % 60);
}

QString ConnectedAtLine(const QDateTime& start)
{
    const QTime at = start.isValid() ? start.time() : QTime(0, 0);
    return QStringLiteral("Connected at : ") + at.toString(QStringLiteral("hh:mm:ss"));
}

void SpeedMeter::UpdateSpeed(qint64& totaldata)
{
    dropping_ = false;
    if (speedPeak_ < totaldata)
        speedPeak_ = totaldata;
    if (totaldata < value_) {
        // A slower second: the bar falls over the next Timer5 ticks.
        dropping_ = true;
    } else {
        setMaximum(speedPeak_);
        setValue(totaldata);
        line_ = SpeedLine(value_);
    }
    totaldata = 0;
    // After a peak reset this can lie below the value (see setMaximum).
    setMaximum(speedPeak_);
}

void SpeedMeter::DropSpeedBar(qint64 totaldata)
{
    if (value_ < 10) {
        value_ = 0;
        line_ = SpeedLine(value_);
        dropping_ = false;
    }
    if (value_ > totaldata)
        setValue(totaldata);
    else
        dropping_ = false;
}

void SpeedMeter::setMaximum(qint64 maximum)
{
    maximum_ = maximum;
    // A bar cannot stand above its maximum: the value follows it down.
    if (value_ > maximum_)
        value_ = maximum_;
}

void SpeedMeter::setValue(qint64 value)
{
    value_ = qBound<qint64>(0, value, maximum_);
}

void SwapStatusLines(StatusLineTops& tops)
{
    if (tops.SpeedBar == statustops::UpperLine) {
        tops.Label8 = tops.SpeedBar;
        tops.Label9 = tops.Label1;
        tops.SpeedBar = statustops::HiddenUpper;
        tops.Label1 = statustops::HiddenLower;
    } else {
        tops.SpeedBar = tops.Label8;
        tops.Label1 = tops.Label9;
        tops.Label8 = statustops::HiddenUpper;
        tops.Label9 = statustops::HiddenLower;
    }
}

void ShowSpeedPair(StatusLineTops& tops)
{
    tops.SpeedBar = statustops::UpperLine;
    tops.Label1 = statustops::LowerLine;
    tops.Label8 = statustops::HiddenUpper;
    tops.Label9 = statustops::HiddenLower;
}

void ShowConnectionPair(StatusLineTops& tops)
{
    tops.Label8 = statustops::UpperLine;
    tops.Label9 = statustops::LowerLine;
    tops.SpeedBar = statustops::HiddenUpper;
    tops.Label1 = statustops::HiddenLower;
}

} // namespace tellaran
