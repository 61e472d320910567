#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace tellaran {

// What a line from the modem reports. Only a whole line is a result: a word inside a longer
// line (a caller-ID name, "RINGING", an info line, an echoed command) is none.
enum class ModemResultCode
{
    NotAResult,
    Ok,
    Connect,
    Ring,
    NoCarrier,
    Busy,
    NoAnswer,
    NoDialTone,
    Error,
    Delayed,
    Blacklisted,
    Voice,
};

struct ModemLineResult
{
    ModemResultCode code = ModemResultCode::NotAResult;
    // The result as the user is told it ("NO DIAL TONE" for both spellings, "BUSY" for "7").
    QByteArray word;
};

// Classifies one line cut from the modem input in command mode. CR, LF and blanks around it
// do not count, nor the echo of the "ATA" the engine types with no line end, which stands in
// front of a numeric result ("ATA2" is RING). Verbose results are the exact words (CONNECT
// may be followed by a blank or "/" and anything); numeric results are the standard codes
// 0 to 8 without 5.
ModemLineResult ClassifyModemLine(QByteArrayView line);

// In connected mode only link frames are cut, so the modem's "NO CARRIER" after the call
// ends waits in the carry-over buffer. These look for it there, outside any frame, so that
// a payload that merely holds the words is never taken for it.
//
// A complete "NO CARRIER" line in front of the first "<modem>", near the start: between
// frames.
bool NoCarrierBeforeFrames(const QByteArray& carryOver);
// The carry-over ends with a complete "NO CARRIER" line, after the start of a frame that
// never finished: the call dropped in the middle of a frame, if nothing more comes.
bool EndsWithNoCarrier(const QByteArray& carryOver);

} // namespace tellaran
