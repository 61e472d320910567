#include "ferry/ferryfiles.h"

#include "ferry/ferrylog.h"
#include "platform/datafile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace ferryit {

using namespace tellaran;

QString settingsFilePath(const QString& programDir)
{
    return QDir(programDir).filePath(QStringLiteral("ferryit.dat"));
}

QString partsFilePath(const QString& programDir)
{
    return QDir(programDir).filePath(QStringLiteral("parts.dat"));
}

QByteArray encodePath(const QString& path)
{
    QByteArray stored;
    for (const char byte : path.toUtf8()) {
        const auto b = quint8(byte);
        if (b < 0x20 || b == 0x7F || byte == '"' || byte == '%')
            stored += '%' + QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
        else
            stored += byte;
    }
    return stored;
}

QString decodePath(const QByteArray& stored)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(stored));
}

QString readReceiveFolder(const QString& programDir)
{
    QList<QByteArrayList> records;
    if (!datafile::readTextRecords(settingsFilePath(programDir), 1, &records) || records.isEmpty())
        return {};
    return decodePath(records.first().value(0));
}

bool saveReceiveFolder(const QString& programDir, const QString& folder, QString* error)
{
    return datafile::rewriteFile(
        settingsFilePath(programDir), QDir(programDir).filePath(QStringLiteral("ferrytemp.dat")),
        datafile::encodeRecord({datafile::encodeText(encodePath(folder))}), error);
}

QString defaultReceiveFolder()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return downloads.isEmpty() ? QDir::homePath() : downloads;
}

PartRecords::PartRecords(QString path) : path_(std::move(path))
{
    load();
}

void PartRecords::load()
{
    if (path_.isEmpty())
        return;
    QList<QByteArrayList> stored;
    QString error;
    if (!datafile::readTextRecords(path_, 3, &stored, &error)) {
        qCWarning(lcFerry).noquote() << "cannot read" << path_ << ":" << error;
        return;
    }
    for (const QByteArrayList& fields : stored) {
        bool sizeOk = false;
        const qint64 size = fields.value(1).trimmed().toLongLong(&sizeOk);
        const QByteArray digest = QByteArray::fromHex(fields.value(2));
        if (fields.value(0).isEmpty() || !sizeOk || size < 0 || digest.size() != 32)
            continue;
        records_.append({decodePath(fields.value(0)), size, digest});
    }
}

void PartRecords::store()
{
    if (path_.isEmpty())
        return;
    QByteArray content;
    for (const PartRecord& record : records_) {
        content += datafile::encodeRecord({datafile::encodeText(encodePath(record.partPath)),
                                           datafile::encodeText(QByteArray::number(record.size)),
                                           datafile::encodeText(record.digest.toHex())});
    }
    QString error;
    // Losing this file loses only the chance to resume, never a file: no forced sync.
    if (!datafile::rewriteFile(path_,
                               QFileInfo(path_).dir().filePath(QStringLiteral("partstemp.dat")),
                               content, &error, false))
        qCWarning(lcFerry).noquote() << "cannot write" << path_ << ":" << error;
}

QString PartRecords::find(qint64 size, const QByteArray& digest) const
{
    for (auto record = records_.crbegin(); record != records_.crend(); ++record) {
        if (record->size != size || record->digest != digest)
            continue;
        const QFileInfo part(record->partPath);
        if (part.isFile() && !part.isSymLink() && part.size() <= size)
            return record->partPath;
    }
    return {};
}

void PartRecords::add(const PartRecord& record)
{
    records_.removeIf([&](const PartRecord& r) { return r.partPath == record.partPath; });
    records_.append(record);
    while (records_.size() > MaxRecords)
        records_.removeFirst();
    store();
}

void PartRecords::remove(const QString& partPath)
{
    if (records_.removeIf([&](const PartRecord& r) { return r.partPath == partPath; }) > 0)
        store();
}

} // namespace ferryit
