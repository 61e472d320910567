#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace tellaran::load {

// Payloads that say who sent them and whether they are whole, for measuring what a noisy
// line delivers: "#", the sender's DataID, a sequence number (10 digits), the body's length
// (5 digits), the body (letters only), the CRC-32 of all that (8 hex digits) and "$". Only
// the marks "#" and "$" are not letters or digits, so a receiver finds the next payload after
// a damaged one.
namespace tagged {

inline constexpr qsizetype Overhead = 1 + 8 + 10 + 5 + 8 + 1;
inline constexpr qsizetype LongestBody = 65536;

QByteArray payload(const QByteArray& dataId, qint64 sequence, qsizetype size);

// Takes tagged payloads from a byte stream, as a program receives them.
class Reader
{
public:
    explicit Reader(QByteArray ownDataId) : ownDataId_(std::move(ownDataId)) {}

    void feed(QByteArrayView bytes);

    // Whole payloads of this program's DataID.
    qint64 intact() const { return intact_; }
    // Payloads that were not whole.
    qint64 damaged() const { return damaged_; }
    // Whole payloads of another DataID.
    qint64 wrongDataId() const { return wrongDataId_; }
    // The sequence number of the latest intact payload; -1 before the first.
    qint64 lastSequence() const { return lastSequence_; }

private:
    void dropDamaged(qsizetype upTo);

    QByteArray ownDataId_;
    QByteArray pending_;
    qint64 intact_ = 0;
    qint64 damaged_ = 0;
    qint64 wrongDataId_ = 0;
    qint64 lastSequence_ = -1;
    bool afterFailure_ = false;
};

} // namespace tagged

} // namespace tellaran::load
