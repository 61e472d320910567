#pragma once

#include <QByteArray>
#include <optional>

namespace tellaran {

// Decides which link frames cut from the modem input may be relayed: a frame whose check
// value does not match its bytes is never delivered.
//
// A line as the splitter cuts it holds one frame, or, when noise hit a frame's end, that
// frame joined to the ones after it. A line whose first frame fails is searched for a later
// "<modem>" with a check value that matches up to the end of the line, so one hit costs one
// frame, not the one behind it too.
//
// An engine that sends no check values is understood as before, until a line begins with a
// check value: from then on the other side is known to send them, and a frame without one
// is damaged. Something that looks like a check value but is not one (a mark
// without eight hex digits, or eight hex digits without the mark) is a damaged check value,
// never taken for an engine that sends none.
class LinkFrameCheck
{
public:
    // The frame to relay, from its "<modem>" to the end of the line; nothing when the line
    // holds no frame that may be delivered (the line is then counted as dropped).
    std::optional<QByteArray> Check(const QByteArray& line);

    // Lines dropped, or cut short to their last frame, in this call.
    int droppedFrames() const { return dropped_; }
    // Whether the other side is known to send check values.
    bool peerSendsCheckValues() const { return peerChecks_; }

    // How many later "<modem>"s of one line are checked at most: a check costs the rest of
    // the line, so a line full of false marks must not cost more than a few.
    static constexpr int LaterFramesChecked = 8;

private:
    enum class Prefix
    {
        None,
        Valid,
        Damaged,
    };
    static Prefix prefixBefore(const QByteArray& line, qsizetype modemAt);
    static bool passes(const QByteArray& line, qsizetype modemAt);

    bool peerChecks_ = false;
    int dropped_ = 0;
};

} // namespace tellaran
