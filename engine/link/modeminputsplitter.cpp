#include "engine/link/modeminputsplitter.h"

#include <QByteArrayList>
#include <algorithm>

namespace tellaran {

namespace {

// A link frame ends where "<xodem>" is directly followed by the CR.
constexpr QByteArrayView LinkFrameEnding = "<xodem>\r";
// Text gathered before the CR must be longer than this to end a link frame.
constexpr qsizetype ShortestLinkFrame = 11;

} // namespace

ModemInputSplitter::ModemInputSplitter(LineHandler onLine, qsizetype cap)
    : onLine_(std::move(onLine)), cap_(cap)
{}

void ModemInputSplitter::clear()
{
    buffer_.clear();
    discarding_ = false;
}

qsizetype ModemInputSplitter::cutCommandLines(qsizetype searchFrom, QByteArrayList* lines)
{
    qsizetype lineStart = 0;
    for (;;) {
        const qsizetype at = buffer_.indexOf(frames::LinkFrameEnd, searchFrom);
        if (at < 0)
            return lineStart;
        if (discarding_)
            discarding_ = false;
        else
            lines->append(buffer_.mid(lineStart, at - lineStart));
        lineStart = at + 1;
        searchFrom = lineStart;
    }
}

qsizetype ModemInputSplitter::cutLinkFrames(qsizetype searchFrom, QByteArrayList* lines)
{
    qsizetype lineStart = 0;
    for (;;) {
        const qsizetype at = buffer_.indexOf(LinkFrameEnding, searchFrom);
        if (at < 0)
            return lineStart;
        const qsizetype lineLength = at + frames::XodemTag.size() - lineStart;
        const qsizetype carriageReturn = at + frames::XodemTag.size();
        searchFrom = carriageReturn + 1;
        // A CR after a too short text stays in the frame like any other character.
        if (!discarding_ && lineLength <= ShortestLinkFrame)
            continue;
        if (discarding_)
            discarding_ = false;
        else
            lines->append(buffer_.mid(lineStart, lineLength));
        lineStart = carriageReturn + 1;
    }
}

void ModemInputSplitter::SplitModemInput(const QByteArray& chunk, bool connected)
{
    // In connected mode the ending "<xodem>" may have begun in the previous block.
    const qsizetype lookBack = connected ? LinkFrameEnding.size() - 1 : 0;
    const qsizetype searchFrom = std::max<qsizetype>(0, buffer_.size() - lookBack);
    buffer_.append(chunk);

    QByteArrayList lines;
    const qsizetype consumed =
        connected ? cutLinkFrames(searchFrom, &lines) : cutCommandLines(searchFrom, &lines);
    buffer_.remove(0, consumed);

    if (!discarding_ && buffer_.size() > cap_) {
        discarding_ = true;
        ++dropped_;
    }
    if (discarding_ && buffer_.size() >= LinkFrameEnding.size())
        buffer_ = buffer_.right(LinkFrameEnding.size() - 1);

    if (lines.isEmpty())
        return;
    const LineHandler onLine = onLine_;
    for (QByteArray& line : lines)
        onLine(std::move(line));
}

} // namespace tellaran
