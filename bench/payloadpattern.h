#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace tellaran::bench {

// The bytes one channel carries: a deterministic stream, so a receiver can check whatever
// arrives at any stream offset without keeping what was sent. It never holds '<' or 'K', so
// no framing token ("<xodem>", "KvekEND", the tags) can appear inside a payload and cut it.
class PayloadPattern
{
public:
    explicit PayloadPattern(quint64 seed = 0) : seed_(seed) {}

    // The `size` bytes of the stream that begin at `offset`.
    QByteArray bytesAt(qint64 offset, qsizetype size) const;
    // Whether `bytes` are the stream's bytes at `offset`.
    bool matches(qint64 offset, QByteArrayView bytes) const;

private:
    void fill(qint64 offset, char* out, qsizetype size) const;

    quint64 seed_;
};

} // namespace tellaran::bench
