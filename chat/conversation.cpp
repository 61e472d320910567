#include "chat/conversation.h"

#include <QSaveFile>

namespace yarnit {

QByteArray ChatLine(const QByteArray& nickname, const QByteArray& message)
{
    return nickname + "- " + message;
}

QByteArray SavedConversation(const QByteArray& conversation)
{
    return conversation + "\r\n";
}

bool SaveConversation(const QString& path, const QByteArray& conversation, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(SavedConversation(conversation)) >= 0 &&
        file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

} // namespace yarnit
