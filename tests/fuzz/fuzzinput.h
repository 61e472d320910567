#pragma once

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What every harness shares: taking the fuzzer's bytes apart, and failing loudly.
namespace tellaran::fuzz {

// Stops the run with the failed check, so that libFuzzer saves the input and the corpus
// replay fails.
[[noreturn]] inline void fail(const char* check, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, check);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? void() : ::tellaran::fuzz::fail(#condition, __FILE__, __LINE__))

// Takes choices and data from the front of the fuzzer's input. Past its end every choice is
// 0 and every piece empty, so any input is a valid run.
class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool atEnd() const { return pos_ >= size_; }
    uint8_t takeByte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool takeBool() { return (takeByte() & 1) != 0; }
    // A number from 0 to `max`, from one byte (two when `max` needs them).
    int takeUpTo(int max)
    {
        if (max <= 0)
            return 0;
        int raw = takeByte();
        if (max > 255)
            raw = raw << 8 | takeByte();
        return raw % (max + 1);
    }
    QByteArray take(qsizetype count)
    {
        const qsizetype n = std::min<qsizetype>(count, qsizetype(size_ - std::min(pos_, size_)));
        QByteArray bytes(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += size_t(n);
        return bytes;
    }
    // A piece whose length comes first, in one byte.
    QByteArray takeShort() { return take(takeByte()); }
    QByteArray takeRest() { return take(qsizetype(size_)); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A small generator for chunk sizes and other choices that should not eat the data the
// fuzzer mutates; the same seed gives the same run.
class Choices
{
public:
    explicit Choices(uint32_t seed) : state_(seed * 2654435761u + 1u) {}
    uint32_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    bool oneIn(uint32_t n) { return next() % n == 0; }
    // Mostly short pieces, now and then a long one, never empty.
    qsizetype chunkSize()
    {
        return oneIn(8) ? qsizetype(1 + next() % 4096) : qsizetype(1 + next() % 16);
    }

private:
    uint32_t state_;
};

// The stream cut into pieces: all at once, one byte at a time, and at random sizes from
// `seed`. Every splitter must give the same result for each.
inline QList<QList<QByteArray>> chunkings(const QByteArray& stream, uint32_t seed)
{
    QList<QByteArray> whole{stream};
    QList<QByteArray> bytes;
    for (qsizetype i = 0; i < stream.size(); ++i)
        bytes.append(stream.mid(i, 1));
    QList<QByteArray> random;
    Choices choices(seed);
    for (qsizetype i = 0; i < stream.size();) {
        const qsizetype n = choices.chunkSize();
        random.append(stream.mid(i, n));
        i += n;
    }
    return {whole, bytes, random};
}

} // namespace tellaran::fuzz

// Each harness defines it; libFuzzer and the corpus replay both call it.
int fuzzOne(const uint8_t* data, size_t size);
