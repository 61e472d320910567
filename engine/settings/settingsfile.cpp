#include "engine/settings/settingsfile.h"

#include "platform/datafile.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <algorithm>

namespace tellaran {

namespace {

using datafile::Value;

constexpr qsizetype OptionCount = 16;
constexpr qsizetype TimeIndex = 17; // the eighteenth value, after the marker
const char TimeMarker[] = "TIME";

QByteArray encodeFlag(bool ticked)
{
    return datafile::encodeNumberAsText(ticked ? 1 : 0);
}

QList<QByteArray> encodeOptions(const SettingsRecord& r)
{
    return {datafile::encodeNumberAsText(r.speakerVolume),
            encodeFlag(r.speakerUntilConnect),
            encodeFlag(r.speakerAlwaysOn),
            datafile::encodeBoolean(r.pulseDial),
            datafile::encodeBoolean(r.toneDial),
            encodeFlag(r.only56k),
            encodeFlag(r.useCompression),
            encodeFlag(r.useEncryption),
            encodeFlag(r.useErrorControl),
            datafile::encodeText(r.phoneNumber),
            datafile::encodeText(r.portNumber),
            datafile::encodeText(r.parityReplace),
            datafile::encodeText(r.rtsEnable),
            datafile::encodeText(r.portSettings),
            datafile::encodeText(r.inBufferSize),
            datafile::encodeText(r.outBufferSize)};
}

// One value a line, CR LF after each.
QByteArray fileContent(const QList<QByteArray>& encodedValues)
{
    QByteArray content;
    for (const QByteArray& value : encodedValues)
        content += datafile::encodeRecord({value});
    return content;
}

// The file's values. A missing file has none; a file that exists but cannot be read is a
// failure, so that no rewrite replaces options it could not see.
bool readSettingsValues(const QString& path, QList<Value>* values, QString* error)
{
    values->clear();
    if (!QFileInfo::exists(path))
        return true;
    QByteArray content;
    if (!datafile::readFile(path, &content, error))
        return false;
    *values = datafile::readValues(content);
    return true;
}

bool checkStorable(const SettingsRecord& r, QString* error)
{
    for (const QByteArray* text : {&r.phoneNumber, &r.portNumber, &r.parityReplace, &r.rtsEnable,
                                   &r.portSettings, &r.inBufferSize, &r.outBufferSize}) {
        if (!IsStorableText(*text)) {
            if (error)
                *error = QStringLiteral("a setting contains a double quote");
            return false;
        }
    }
    return true;
}

} // namespace

SettingsRecord DeliveredSettings()
{
    SettingsRecord r;
    r.speakerVolume = 2;
    r.speakerUntilConnect = true;
    r.speakerAlwaysOn = false;
    r.pulseDial = false;
    r.toneDial = true;
    r.only56k = true;
    r.useCompression = true;
    r.useEncryption = false;
    r.useErrorControl = true;
    r.phoneNumber = "";
    r.portNumber = "1";
    r.parityReplace = "?";
    r.rtsEnable = "1";
    r.portSettings = "9600,n,8,1";
    r.inBufferSize = "1024";
    r.outBufferSize = "1024";
    return r;
}

QByteArray ZeroConnectionTime()
{
    return QByteArrayLiteral("00:00:00");
}

bool IsStorableText(const QByteArray& text)
{
    return !text.contains('"');
}

SettingsFile::SettingsFile(const QString& programDir) : programDir_(programDir) {}

QString SettingsFile::path() const
{
    return programDir_ + QStringLiteral("/data/data.dat");
}

QString SettingsFile::tempPath() const
{
    return programDir_ + QStringLiteral("/data/datatemp.dat");
}

SettingsRecord SettingsFile::LoadSettings() const
{
    QList<Value> values;
    if (!readSettingsValues(path(), &values, nullptr))
        values.clear();
    // Absent values keep the delivered ones.
    SettingsRecord r = DeliveredSettings();
    const auto has = [&](qsizetype i) { return i < values.size(); };
    const auto flag = [&](qsizetype i) { return datafile::numericValue(values[i].text) != 0; };
    if (has(0)) {
        // The scroll bar's range; the modem knows no other levels.
        r.speakerVolume = int(std::clamp<qint64>(datafile::numericValue(values[0].text), 0, 3));
    }
    if (has(1))
        r.speakerUntilConnect = flag(1);
    if (has(2))
        r.speakerAlwaysOn = flag(2);
    if (has(3))
        r.pulseDial = values[3].isTrue();
    if (has(4))
        r.toneDial = values[4].isTrue();
    if (has(5))
        r.only56k = flag(5);
    if (has(6))
        r.useCompression = flag(6);
    if (has(7))
        r.useEncryption = flag(7);
    if (has(8))
        r.useErrorControl = flag(8);
    QByteArray* texts[] = {&r.phoneNumber,  &r.portNumber,   &r.parityReplace, &r.rtsEnable,
                           &r.portSettings, &r.inBufferSize, &r.outBufferSize};
    for (qsizetype i = 9; i < OptionCount; ++i) {
        if (has(i))
            *texts[i - 9] = values[i].text;
    }
    // The two dial options exclude each other, as the dialog's buttons do.
    if (r.pulseDial && r.toneDial)
        r.pulseDial = false;
    return r;
}

bool SettingsFile::SaveSettings(const SettingsRecord& record, QString* error) const
{
    if (!checkStorable(record, error))
        return false;
    QList<Value> values;
    if (!readSettingsValues(path(), &values, error))
        return false;
    const QByteArray storedTime = values.size() > TimeIndex
                                      ? datafile::encode(values[TimeIndex])
                                      : datafile::encodeText(ZeroConnectionTime());
    QList<QByteArray> lines = encodeOptions(record);
    lines << datafile::encodeText(TimeMarker) << storedTime;
    return datafile::rewriteFile(path(), tempPath(), fileContent(lines), error);
}

QByteArray SettingsFile::ReadStoredTime() const
{
    QList<Value> values;
    if (!readSettingsValues(path(), &values, nullptr) || values.size() <= TimeIndex)
        return ZeroConnectionTime();
    return values[TimeIndex].text;
}

bool SettingsFile::StoreConnectionTime(const QByteArray& timeText, QString* error) const
{
    if (!IsStorableText(timeText)) {
        if (error)
            *error = QStringLiteral("the time contains a double quote");
        return false;
    }
    QList<Value> values;
    if (!readSettingsValues(path(), &values, error))
        return false;
    // Option values are copied in the encoding they were read in, so that a time rewrite
    // never changes them; a value that looks like the marker is still an option.
    QList<QByteArray> lines = encodeOptions(DeliveredSettings());
    for (qsizetype i = 0; i < OptionCount && i < values.size(); ++i)
        lines[i] = datafile::encode(values[i]);
    lines << datafile::encodeText(TimeMarker) << datafile::encodeText(timeText);
    return datafile::rewriteFile(path(), tempPath(), fileContent(lines), error);
}

QString ConnectionTimeNotStoredText(const QString& path, const QString& error)
{
    return QStringLiteral("The connection time of this call could not be stored in %1: %2")
        .arg(QDir::toNativeSeparators(path), error);
}

bool SettingsFile::ResetConnectionTime(QString* error) const
{
    return StoreConnectionTime(ZeroConnectionTime(), error);
}

} // namespace tellaran
