#include "engine/calls/connectiontimekeeper.h"

#include "engine/settings/settingsfile.h"
#include "platform/logging.h"

#include <QStringList>

namespace tellaran {

namespace {

// Seconds of "hh:mm:ss" (hours may run past 99); -1 for anything else.
qint64 secondsOf(const QString& timeText)
{
    const QStringList parts = timeText.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return -1;
    qint64 seconds = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const qint64 value = part.toLongLong(&ok);
        if (!ok || value < 0)
            return -1;
        seconds = seconds * 60 + value;
    }
    return seconds;
}

} // namespace

ConnectionTimeKeeper::ConnectionTimeKeeper(QString programDir) : programDir_(std::move(programDir))
{}

void ConnectionTimeKeeper::ConnectionTimeShown(const QString& timeText)
{
    const qint64 seconds = secondsOf(timeText);
    if (seconds < 0 || seconds / StoreIntervalSeconds <= storedIntervals_)
        return;
    storedIntervals_ = seconds / StoreIntervalSeconds;
    const SettingsFile file(programDir_);
    QString error;
    if (file.StoreConnectionTime(timeText.toLatin1(), &error)) {
        failing_ = false;
        ++stores_;
        return;
    }
    if (!failing_) {
        qCWarning(lcModem).noquote() << ConnectionTimeNotStoredText(file.path(), error);
        failing_ = true;
    }
}

} // namespace tellaran
