#include "platform/logging.h"

#include "platform/troubleshootinglog.h"

namespace tellaran {

Q_LOGGING_CATEGORY(lcModem, "tellaran.modem", QtWarningMsg)
Q_LOGGING_CATEGORY(lcChannels, "tellaran.channels", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLink, "tellaran.link", QtWarningMsg)
Q_LOGGING_CATEGORY(lcVmodem, "tellaran.vmodem", QtWarningMsg)

namespace {

// Without the line ends that frame every command and result, which would only clutter the log.
QByteArrayView withoutLineEnds(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == '\r' || text.front() == '\n'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == '\r' || text.back() == '\n'))
        text.chop(1);
    return text;
}

} // namespace

void logModemCommand(QByteArrayView command)
{
    qCDebug(lcModem).noquote() << "to the modem:"
                               << troubleshooting::printable(withoutLineEnds(command));
}

void logModemLine(QByteArrayView line)
{
    const QByteArrayView text = withoutLineEnds(line);
    if (text.isEmpty())
        return;
    qCDebug(lcModem).noquote() << "from the modem:" << troubleshooting::printable(text);
}

} // namespace tellaran
