#include "engine/link/modemresult.h"

#include "engine/link/frames.h"

#include <algorithm>

namespace tellaran {

namespace {

// The answer command the engine types on every RING, with no line end: the modem echoes it
// in front of whatever it reports next.
constexpr QByteArrayView AnswerEcho = "ATA";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QByteArrayView trimmed(QByteArrayView line)
{
    while (!line.isEmpty() && isBlank(line.front()))
        line = line.sliced(1);
    while (!line.isEmpty() && isBlank(line.back()))
        line.chop(1);
    return line;
}

struct Word
{
    QByteArrayView text;
    ModemResultCode code;
    QByteArrayView told;
};

constexpr Word Words[] = {
    {"OK", ModemResultCode::Ok, "OK"},
    {"RING", ModemResultCode::Ring, "RING"},
    {"NO CARRIER", ModemResultCode::NoCarrier, "NO CARRIER"},
    {"BUSY", ModemResultCode::Busy, "BUSY"},
    {"NO ANSWER", ModemResultCode::NoAnswer, "NO ANSWER"},
    {"NO DIAL TONE", ModemResultCode::NoDialTone, "NO DIAL TONE"},
    {"NO DIALTONE", ModemResultCode::NoDialTone, "NO DIAL TONE"},
    {"ERROR", ModemResultCode::Error, "ERROR"},
    {"DELAYED", ModemResultCode::Delayed, "DELAYED"},
    {"BLACKLISTED", ModemResultCode::Blacklisted, "BLACKLISTED"},
    {"VOICE", ModemResultCode::Voice, "VOICE"},
    // The standard numeric codes (V0); 5 and the rest vary between modems.
    {"0", ModemResultCode::Ok, "OK"},
    {"1", ModemResultCode::Connect, "CONNECT"},
    {"2", ModemResultCode::Ring, "RING"},
    {"3", ModemResultCode::NoCarrier, "NO CARRIER"},
    {"4", ModemResultCode::Error, "ERROR"},
    {"6", ModemResultCode::NoDialTone, "NO DIAL TONE"},
    {"7", ModemResultCode::Busy, "BUSY"},
    {"8", ModemResultCode::NoAnswer, "NO ANSWER"},
};

// These run on every block received while connected, over a carry-over that may hold a
// large unfinished frame: they look only where the modem's line can stand, at the start of
// the carry-over or at its very end.
constexpr qsizetype HeadWindow = 256;
constexpr qsizetype TailWindow = 32;

bool isNoCarrier(QByteArrayView line)
{
    return ClassifyModemLine(line).code == ModemResultCode::NoCarrier;
}

} // namespace

ModemLineResult ClassifyModemLine(QByteArrayView line)
{
    line = trimmed(line);
    while (line.startsWith(AnswerEcho))
        line = trimmed(line.sliced(AnswerEcho.size()));

    constexpr QByteArrayView connect = "CONNECT";
    if (line.startsWith(connect)) {
        const QByteArrayView rest = line.sliced(connect.size());
        if (rest.isEmpty() || rest.front() == ' ' || rest.front() == '/')
            return {ModemResultCode::Connect, QByteArray("CONNECT")};
        return {};
    }
    for (const Word& word : Words) {
        if (line == word.text)
            return {word.code, word.told.toByteArray()};
    }
    return {};
}

bool NoCarrierBeforeFrames(const QByteArray& carryOver)
{
    const QByteArrayView head =
        QByteArrayView(carryOver).first(std::min(carryOver.size(), HeadWindow));
    qsizetype end = head.indexOf(frames::ModemTag);
    if (end < 0)
        end = head.size();
    qsizetype lineStart = 0;
    for (;;) {
        const qsizetype at = head.indexOf('\r', lineStart);
        if (at < 0 || at >= end)
            return false;
        if (isNoCarrier(head.sliced(lineStart, at - lineStart)))
            return true;
        lineStart = at + 1;
    }
}

bool EndsWithNoCarrier(const QByteArray& carryOver)
{
    QByteArrayView rest(carryOver);
    rest = rest.last(std::min(rest.size(), TailWindow));
    if (rest.endsWith('\n'))
        rest.chop(1);
    if (!rest.endsWith('\r'))
        return false;
    rest.chop(1);
    const qsizetype lineStart = rest.lastIndexOf('\r');
    if (lineStart < 0)
        return false;
    return isNoCarrier(rest.sliced(lineStart + 1));
}

} // namespace tellaran
