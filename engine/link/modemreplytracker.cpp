#include "engine/link/modemreplytracker.h"

#include "engine/link/modemresult.h"

namespace tellaran {

void ModemReplyTracker::commandWritten(QByteArrayView command, bool echoed)
{
    command_ = command.trimmed().toByteArray();
    awaiting_ = true;
    needEcho_ = echoed && modemEchoes_;
}

ModemReplyTracker::Verdict ModemReplyTracker::lineArrived(QByteArrayView line)
{
    const QByteArrayView text = line.trimmed();
    // Whatever was left before it in the modem's output may stand in front of the echo.
    if (awaiting_ && !command_.isEmpty() && text.endsWith(command_)) {
        modemEchoes_ = true;
        needEcho_ = false;
        return Verdict::NotAReply;
    }
    const ModemResultCode code = ClassifyModemLine(line).code;
    if (code != ModemResultCode::Ok && code != ModemResultCode::Error)
        return Verdict::NotAReply;
    if (!awaiting_ || needEcho_)
        return Verdict::Late;
    awaiting_ = false;
    return Verdict::Reply;
}

} // namespace tellaran
