#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Ferryit's own files in its program folder, in the data files' usual form:
// - ferryit.dat: the folder received files go into;
// - parts.dat: the unfinished parts of received files, each with the size and SHA-256 of the
//   file it belongs to, so that a later offer of the same file resumes where it stopped.
// Paths are stored with '"', '%' and control characters written as %XX, since the format
// has no escape for them.
namespace ferryit {

QString settingsFilePath(const QString& programDir);
QString partsFilePath(const QString& programDir);

// The stored receive folder; empty when none was chosen or the file cannot be read.
QString readReceiveFolder(const QString& programDir);
bool saveReceiveFolder(const QString& programDir, const QString& folder, QString* error = nullptr);
// Where files go when the user never chose: the Downloads folder, else the home folder.
QString defaultReceiveFolder();

struct PartRecord
{
    QString partPath;
    qint64 size = 0;
    QByteArray digest; // SHA-256, raw bytes

    bool operator==(const PartRecord&) const = default;
};

// The records of a parts file. A missing or unreadable file has none; damaged records are
// skipped.
class PartRecords
{
public:
    // At most this many unfinished parts are remembered; the oldest are forgotten first.
    static constexpr int MaxRecords = 64;

    // `path` empty: kept in memory only.
    explicit PartRecords(QString path = QString());

    // The part of the file with this size and digest, if it is still there, a plain file (not
    // a link) and no longer than the file.
    QString find(qint64 size, const QByteArray& digest) const;
    void add(const PartRecord& record);
    void remove(const QString& partPath);
    const QList<PartRecord>& records() const { return records_; }

private:
    void load();
    void store();

    QString path_;
    QList<PartRecord> records_;
};

QByteArray encodePath(const QString& path);
QString decodePath(const QByteArray& stored);

} // namespace ferryit
