#include "bench/load/taggedpayloads.h"

#include "engine/link/frames.h"

#include <algorithm>

namespace tellaran::load::tagged {

namespace {

constexpr qsizetype HeaderSize = 1 + 8 + 10 + 5;

bool allDigits(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

QByteArray hexOf(quint32 value)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(8, '0');
}

} // namespace

QByteArray payload(const QByteArray& dataId, qint64 sequence, qsizetype size)
{
    const qsizetype bodySize = std::clamp<qsizetype>(size - Overhead, 0, LongestBody);
    QByteArray bytes;
    bytes.reserve(bodySize + Overhead);
    bytes += '#';
    bytes += dataId.leftJustified(8, 'x', true);
    bytes += QByteArray::number(sequence).rightJustified(10, '0', true);
    bytes += QByteArray::number(bodySize).rightJustified(5, '0');
    for (qsizetype i = 0; i < bodySize; ++i)
        bytes += char('a' + (sequence + i) % 26);
    bytes += hexOf(frames::checkValue(bytes));
    bytes += '$';
    return bytes;
}

// A record that fails is counted at its mark; what follows it up to the next mark is the
// rest of it. Bytes before a mark that no failed record explains are a payload of their own.
void Reader::dropDamaged(qsizetype upTo)
{
    if (!afterFailure_ || pending_.startsWith('#'))
        ++damaged_;
    afterFailure_ = true;
    pending_.remove(0, upTo);
}

void Reader::feed(QByteArrayView bytes)
{
    pending_.append(bytes);
    for (;;) {
        const qsizetype mark = pending_.indexOf('#');
        if (mark < 0) {
            if (!pending_.isEmpty())
                dropDamaged(pending_.size());
            return;
        }
        if (mark > 0)
            dropDamaged(mark);
        if (pending_.size() < HeaderSize)
            return;
        const QByteArrayView header(pending_.constData(), HeaderSize);
        if (!allDigits(header.sliced(9, 15))) {
            dropDamaged(1);
            continue;
        }
        const qsizetype bodySize = QByteArray(header.sliced(19, 5).data(), 5).toLongLong();
        // A body may only hold letters: anything else there, a mark above all, means this
        // payload is not whole.
        const qsizetype available = std::min(pending_.size(), HeaderSize + bodySize);
        const auto bodyEnd = pending_.cbegin() + available;
        const auto odd = std::find_if_not(pending_.cbegin() + HeaderSize, bodyEnd, isLetter);
        if (odd != bodyEnd || bodySize > LongestBody) {
            dropDamaged(std::max<qsizetype>(1, odd - pending_.cbegin()));
            continue;
        }
        const qsizetype total = HeaderSize + bodySize + 9;
        if (pending_.size() < total)
            return;
        const QByteArrayView whole(pending_.constData(), total);
        if (whole.back() != '$' ||
            whole.sliced(HeaderSize + bodySize, 8) !=
                hexOf(frames::checkValue(whole.first(HeaderSize + bodySize)))) {
            dropDamaged(1);
            continue;
        }
        afterFailure_ = false;
        if (whole.sliced(1, 8) == ownDataId_) {
            ++intact_;
            lastSequence_ = QByteArray(whole.sliced(9, 10).data(), 10).toLongLong();
        } else {
            ++wrongDataId_;
        }
        pending_.remove(0, total);
    }
}

} // namespace tellaran::load::tagged
