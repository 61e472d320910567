#pragma once

#include <QByteArray>
#include <QString>

namespace tellaran {

// The sixteen option values of data/data.dat, in file order. Check-box values are stored
// as the numbers 0 and 1; any other number reads as ticked.
struct SettingsRecord
{
    int speakerVolume = 0; // 0 off, 1 low, 2 medium, 3 high
    bool speakerUntilConnect = false;
    bool speakerAlwaysOn = false;
    bool pulseDial = false;
    bool toneDial = false;
    bool only56k = false;
    bool useCompression = false;
    bool useEncryption = false;
    bool useErrorControl = false;
    QByteArray phoneNumber;
    QByteArray portNumber;
    QByteArray parityReplace;
    QByteArray rtsEnable;
    QByteArray portSettings;
    QByteArray inBufferSize;
    QByteArray outBufferSize;

    bool operator==(const SettingsRecord&) const = default;
};

// The values of data/data.dat as delivered with the program; they also stand in for values
// a missing or shortened file lacks.
SettingsRecord DeliveredSettings();
// The connection time after a reset, and the one assumed when the file holds none.
QByteArray ZeroConnectionTime();

// What the user is told when the time of a call could not be stored in `path`.
QString ConnectionTimeNotStoredText(const QString& path, const QString& error);

// Whether a text can be stored as a quoted value: the file has no escape for a double quote.
bool IsStorableText(const QByteArray& text);

// The settings file data/data.dat below a program folder: sixteen option values, the marker
// "TIME" and the connection time of the last call, one value a line. Each operation opens,
// works on and closes the file before it returns; every rewrite goes through
// data/datatemp.dat and one atomic rename.
class SettingsFile
{
public:
    explicit SettingsFile(const QString& programDir);

    QString path() const;
    QString tempPath() const;

    // The sixteen option values. Values the file lacks (or the whole file, when it cannot
    // be read) come from DeliveredSettings(). When both dial values are true, tone wins.
    SettingsRecord LoadSettings() const;
    // Writes the sixteen values, the marker and the stored connection time (the file's
    // eighteenth value as it was written, or "00:00:00" when it has none). Refuses text that
    // holds a double quote. Returns false, with the reason in *error, when nothing was
    // written.
    bool SaveSettings(const SettingsRecord& record, QString* error = nullptr) const;
    // The file's eighteenth value, the connection time of the last call; "00:00:00" when the
    // file is missing or holds fewer values.
    QByteArray ReadStoredTime() const;
    // Rewrites the file with values 1 to 16 as they stand (absent ones from
    // DeliveredSettings()), then the marker and timeText. Whatever stood after value 16 is
    // replaced.
    bool StoreConnectionTime(const QByteArray& timeText, QString* error = nullptr) const;
    bool ResetConnectionTime(QString* error = nullptr) const;

private:
    QString programDir_;
};

} // namespace tellaran
