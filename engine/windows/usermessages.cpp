#include "engine/windows/usermessages.h"

#include "engine/link/frames.h"

namespace tellaran {

bool IsShortMessage(const QByteArray& message)
{
    return message.size() <= ShortMessageLength;
}

QByteArray ShownPartOfMessage(const QByteArray& message)
{
    return message.left(ShownMessageLimit);
}

QPoint CentredOrigin(const QSize& area, const QSize& text)
{
    return {(area.width() - text.width()) / 2, (area.height() - text.height()) / 2};
}

QString UnsendableMessageReason(const QByteArray& text)
{
    for (const QByteArrayView token : {frames::Terminator, frames::MsgboxTag}) {
        if (text.contains(token)) {
            return QStringLiteral("The message cannot be sent: it contains \"%1\", which would "
                                  "cut it apart on the way. Please change the text.")
                .arg(QString::fromLatin1(token.toByteArray()));
        }
    }
    return QString();
}

QString NotConnectedText()
{
    return QStringLiteral("Not connected to Tellaran \u2014 try again");
}

bool MessageWindowLimit::Admit(int openWindows)
{
    if (openWindows < MaxOpen) {
        dropped_ = 0;
        return true;
    }
    ++dropped_;
    return false;
}

QString DroppedMessagesNote(qint64 dropped)
{
    if (dropped <= 0)
        return QString();
    if (dropped == 1)
        return QStringLiteral("1 more message dropped: too many are open");
    return QStringLiteral("%1 more messages dropped: too many are open").arg(dropped);
}

} // namespace tellaran
