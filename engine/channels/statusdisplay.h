#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace tellaran {

// The status window's display logic, free of widgets: the speed line and bar, the connection
// clock's text and the tops (in twips) of the controls that take turns in the display area.

// "Speed : 12Kbps": the characters of one second times 8 over 1000, whole, at least two
// digits, no blank before the unit.
QString SpeedLine(qint64 charactersPerSecond);

// The seconds from `start` to `now`. Counts across midnight and never goes below 0 (a clock
// set back during the call).
qint64 ElapsedSeconds(const QDateTime& start, const QDateTime& now);

// "hh:mm:ss", each field at least two digits. The hours count on past a day (25:00:01), so a
// long call is not stored as a short one.
QString ConnectionTimeText(qint64 seconds);

// "Connected at : hh:mm:ss" for the time of day of `start`; 00:00:00 while there is none.
QString ConnectedAtLine(const QDateTime& start);

// The speed bar (maximum, value), its line, the highest count seen, and whether Timer5 (the
// falling bar) runs. Every step keeps the value within the maximum: lowering the maximum
// below the value lowers the value with it.
class SpeedMeter
{
public:
    static constexpr qint64 InitialPeak = 12;

    // SpdTimer, each second: takes the count of the second and starts it again at 0.
    void UpdateSpeed(qint64& totaldata);
    // Timer5: the bar falls to what has arrived since the last reading.
    void DropSpeedBar(qint64 totaldata);
    // Timer3, each minute.
    void ResetPeak() { speedPeak_ = InitialPeak; }

    qint64 speedPeak() const { return speedPeak_; }
    qint64 maximum() const { return maximum_; }
    qint64 value() const { return value_; }
    // Whether Timer5 should run. It runs once at load, which sets the line to 00.
    bool isDropping() const { return dropping_; }
    const QString& line() const { return line_; }

private:
    void setMaximum(qint64 maximum);
    void setValue(qint64 value);

    qint64 speedPeak_ = InitialPeak;
    qint64 maximum_ = InitialPeak;
    qint64 value_ = 0;
    bool dropping_ = true;
    QString line_ = QStringLiteral("Speed : ");
};

// Tops in twips. Above 585 a control is in view; the hidden tops lie below the window's edge.
namespace statustops {
constexpr int UpperLine = 120;
constexpr int LowerLine = 300;
constexpr int HiddenUpper = 2100;
constexpr int HiddenLower = 2300;
constexpr int InflowShown = 130;
constexpr int OutflowShown = 280;
constexpr int FlowHidden = 2300;
} // namespace statustops

// Where the speed pair (SpeedBar, Label1) and the time pair (Label8, Label9) stand.
struct StatusLineTops
{
    int SpeedBar = statustops::UpperLine;
    int Label1 = statustops::LowerLine;
    int Label8 = 2160;
    int Label9 = 2400;

    bool operator==(const StatusLineTops&) const = default;
};

// Auto Scroll's step: whichever pair is in view goes out and the other takes its place.
void SwapStatusLines(StatusLineTops& tops);
// The "Speed" and "Connection status" menu items: that pair in view, the other hidden.
void ShowSpeedPair(StatusLineTops& tops);
void ShowConnectionPair(StatusLineTops& tops);

} // namespace tellaran
