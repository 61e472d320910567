#include "ferry/filehasher.h"

namespace ferryit {

FileHasher::FileHasher(const QString& path, qint64 length, Handler done, QObject* parent)
    : QObject(parent), file_(path), remaining_(length), done_(std::move(done))
{
    next_.setSingleShot(true);
    next_.setInterval(0);
    connect(&next_, &QTimer::timeout, this, &FileHasher::hashSlice);
    next_.start();
}

void FileHasher::finish(Result result)
{
    file_.close();
    slice_ = QByteArray();
    // The handler may destroy this hasher: nothing is touched after it.
    const Handler done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(result);
}

void FileHasher::hashSlice()
{
    if (!file_.isOpen() && !file_.open(QIODevice::ReadOnly)) {
        finish({false, {}, file_.errorString()});
        return;
    }
    if (remaining_ > 0) {
        slice_.resize(qsizetype(std::min(remaining_, SliceSize)));
        const qint64 got = file_.read(slice_.data(), slice_.size());
        if (got < 0) {
            finish({false, {}, file_.errorString()});
            return;
        }
        if (got == 0) {
            finish({false, {}, QStringLiteral("the file is shorter than expected")});
            return;
        }
        hash_.addData(QByteArrayView(slice_.constData(), got));
        remaining_ -= got;
    }
    if (remaining_ > 0) {
        next_.start();
        return;
    }
    finish({true, hash_.result(), {}});
}

QByteArray emptyDigest()
{
    return QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha256);
}

} // namespace ferryit
