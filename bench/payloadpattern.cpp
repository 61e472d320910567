#include "bench/payloadpattern.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tellaran::bench {

namespace {

// One well-mixed 64-bit word per 8 bytes of the stream.
quint64 streamWord(quint64 seed, quint64 block)
{
    quint64 z = seed + (block + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

char safeByte(quint64 word, int index)
{
    const char c = char((word >> (8 * index)) & 0xFF);
    // Flipping the top bit moves the two token letters out of the way; nothing maps back.
    return (c == '<' || c == 'K') ? char(c ^ 0x80) : c;
}

} // namespace

void PayloadPattern::fill(qint64 offset, char* out, qsizetype size) const
{
    qsizetype i = 0;
    quint64 position = quint64(offset);
    while (i < size) {
        const quint64 word = streamWord(seed_, position >> 3);
        for (int k = int(position & 7); k < 8 && i < size; ++k, ++i, ++position)
            out[i] = safeByte(word, k);
    }
}

QByteArray PayloadPattern::bytesAt(qint64 offset, qsizetype size) const
{
    QByteArray bytes(size, Qt::Uninitialized);
    fill(offset, bytes.data(), size);
    return bytes;
}

bool PayloadPattern::matches(qint64 offset, QByteArrayView bytes) const
{
    std::array<char, 4096> expected;
    for (qsizetype done = 0; done < bytes.size();) {
        const qsizetype n = std::min<qsizetype>(qsizetype(expected.size()), bytes.size() - done);
        fill(offset + done, expected.data(), n);
        if (std::memcmp(expected.data(), bytes.data() + done, size_t(n)) != 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace tellaran::bench
