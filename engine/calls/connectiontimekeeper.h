#pragma once

#include <QString>

namespace tellaran {

// Keeps the running call's time in the settings file as the call goes on: once at each
// whole minute of the call, so that a crash or a power cut loses at most a minute of it.
class ConnectionTimeKeeper
{
public:
    explicit ConnectionTimeKeeper(QString programDir);

    // The call's time as the connection clock shows it ("hh:mm:ss"); stored when a minute
    // of the call has passed since the last store. A failure is logged once, until a store
    // succeeds again.
    void ConnectionTimeShown(const QString& timeText);

    static constexpr int StoreIntervalSeconds = 60;
    // How many times the time was stored.
    int stores() const { return stores_; }

private:
    QString programDir_;
    qint64 storedIntervals_ = 0;
    bool failing_ = false;
    int stores_ = 0;
};

} // namespace tellaran
