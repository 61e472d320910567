#include "engine/link/linkframecheck.h"

#include "engine/link/frames.h"

#include <algorithm>

namespace tellaran {

namespace {

bool isUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool allUpperHex(QByteArrayView digits)
{
    return std::all_of(digits.begin(), digits.end(), isUpperHex);
}

} // namespace

LinkFrameCheck::Prefix LinkFrameCheck::prefixBefore(const QByteArray& line, qsizetype modemAt)
{
    const bool hasMark = modemAt >= frames::CheckValuePrefixLength &&
                         line[modemAt - frames::CheckValuePrefixLength] == frames::CheckValueMark;
    const bool hasDigits = modemAt >= frames::CheckValueDigits &&
                           allUpperHex(QByteArrayView(line).sliced(
                               modemAt - frames::CheckValueDigits, frames::CheckValueDigits));
    if (hasMark && hasDigits)
        return Prefix::Valid;
    return hasMark || hasDigits ? Prefix::Damaged : Prefix::None;
}

bool LinkFrameCheck::passes(const QByteArray& line, qsizetype modemAt)
{
    const QByteArrayView digits =
        QByteArrayView(line).sliced(modemAt - frames::CheckValueDigits, frames::CheckValueDigits);
    bool ok = false;
    const quint32 stated = QByteArray(digits.data(), digits.size()).toUInt(&ok, 16);
    return ok && stated == frames::checkValue(QByteArrayView(line).sliced(modemAt));
}

std::optional<QByteArray> LinkFrameCheck::Check(const QByteArray& line)
{
    const qsizetype first = line.indexOf(frames::ModemTag);
    if (first >= 0) {
        switch (prefixBefore(line, first)) {
        case Prefix::Valid:
            // Only an engine that sends check values puts one in front of a line's first
            // frame, whether or not noise hit the frame.
            peerChecks_ = true;
            if (passes(line, first))
                return line.mid(first);
            break;
        case Prefix::None:
            if (!peerChecks_)
                return line.mid(first);
            break;
        case Prefix::Damaged:
            break;
        }
        // Only the last frame of a joined line can match up to the line's end: search from
        // the back.
        qsizetype from = line.size() - frames::ModemTag.size();
        for (int checked = 0; checked < LaterFramesChecked;) {
            const qsizetype at = line.lastIndexOf(frames::ModemTag, from);
            if (at <= first)
                break;
            if (prefixBefore(line, at) == Prefix::Valid) {
                ++checked;
                if (passes(line, at)) {
                    ++dropped_;
                    return line.mid(at);
                }
            }
            from = at - 1;
        }
    }
    ++dropped_;
    return std::nullopt;
}

} // namespace tellaran
