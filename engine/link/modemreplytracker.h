#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace tellaran {

// Which command a final result from the modem ("OK", "ERROR" or their numbers) answers.
//
// A modem handles its commands in turn, so a reply that comes late is still the reply to the
// command before. Once the modem has echoed a command, a reply counts for the command just
// written only after that command's own echo (a line that ends with it); before it, it is an
// earlier command's. A modem that has never echoed is taken at its word.
class ModemReplyTracker
{
public:
    enum class Verdict
    {
        NotAReply, // no final result (an echo, an information line, RING, CONNECT...)
        Reply,     // the reply to the command awaited
        Late,      // a final result that answers an earlier command, or none awaited
    };

    // `command` without its line end. A command the modem does not echo (the escape, or
    // "ATA" typed with no line end) takes the next final result whatever came before.
    void commandWritten(QByteArrayView command, bool echoed = true);
    Verdict lineArrived(QByteArrayView line);
    bool awaiting() const { return awaiting_; }
    bool modemEchoes() const { return modemEchoes_; }

private:
    QByteArray command_;
    bool awaiting_ = false;
    bool needEcho_ = false;
    bool modemEchoes_ = false;
};

} // namespace tellaran
