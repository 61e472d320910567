#pragma once

#include "engine/link/frames.h"

#include <QByteArray>
#include <functional>

namespace tellaran {

// Cuts what the serial port delivers into modem response lines or link frames.
//
// Command mode: every CR ends a line and is dropped; everything else, line feeds included,
// is kept. Connected mode: a CR ends a link frame only when the text gathered before it is
// longer than 11 characters and ends with "<xodem>"; any other CR is part of the payload.
//
// An unfinished line that grows past the cap is dropped together with the rest of it up
// to its end, so a line that never ends cannot exhaust memory.
class ModemInputSplitter
{
public:
    using LineHandler = std::function<void(QByteArray line)>;

    explicit ModemInputSplitter(LineHandler onLine, qsizetype cap = frames::DefaultBufferCap);

    // Appends one block read from the port and hands every complete line to the handler,
    // in order. `connected` is the modem window's Connected flag at the start of the call.
    // The lines are taken out of the buffer before the first one is handed on.
    void SplitModemInput(const QByteArray& chunk, bool connected);

    // Empties the carry-over buffer.
    void clear();

    void setCap(qsizetype cap) { cap_ = cap; }
    qsizetype buffered() const { return buffer_.size(); }
    // The characters gathered so far (the line under construction).
    const QByteArray& pending() const { return buffer_; }
    int droppedLines() const { return dropped_; }

private:
    qsizetype cutCommandLines(qsizetype searchFrom, QByteArrayList* lines);
    qsizetype cutLinkFrames(qsizetype searchFrom, QByteArrayList* lines);

    LineHandler onLine_;
    qsizetype cap_;
    QByteArray buffer_;
    bool discarding_ = false;
    int dropped_ = 0;
};

} // namespace tellaran
