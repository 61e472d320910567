#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace ferryit {

// The SHA-256 of a file's first bytes, read a slice per turn of the event loop, so that the
// window stays alive while a large file is hashed and memory holds one slice only.
class FileHasher : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        bool ok = false;
        QByteArray digest;
        // Why the file could not be read, or was shorter than asked.
        QString error;
    };
    using Handler = std::function<void(const Result&)>;

    static constexpr qint64 SliceSize = 1024 * 1024;

    // Hashes the first `length` bytes of the file at `path`; `done` runs once, from the event
    // loop, unless the hasher is destroyed first.
    FileHasher(const QString& path, qint64 length, Handler done, QObject* parent = nullptr);

private:
    void hashSlice();
    void finish(Result result);

    QFile file_;
    qint64 remaining_;
    QCryptographicHash hash_{QCryptographicHash::Sha256};
    Handler done_;
    QTimer next_;
    QByteArray slice_;
};

// The SHA-256 of nothing, the digest of an empty file.
QByteArray emptyDigest();

} // namespace ferryit
