#include "chat/nicknamefile.h"

#include "platform/datafile.h"

#include <QDir>

namespace yarnit {

namespace datafile = tellaran::datafile;

QString nicknameFilePath(const QString& programDir)
{
    return QDir(programDir).filePath(QStringLiteral("chat.dat"));
}

bool EnsureNicknameFile(const QString& programDir)
{
    return datafile::appendToFile(nicknameFilePath(programDir), QByteArray());
}

QByteArray ReadNickname(const QString& programDir)
{
    QByteArray content;
    if (!datafile::readFile(nicknameFilePath(programDir), &content))
        return DefaultNickname;
    const QList<datafile::Value> values = datafile::readValues(content);
    if (values.isEmpty() || values.last().text.isEmpty())
        return DefaultNickname;
    return values.last().text;
}

QByteArray StorableNickname(const QByteArray& nickname)
{
    QByteArray storable = nickname;
    storable.replace('"', QByteArray());
    return storable;
}

bool SaveNickname(const QString& programDir, const QByteArray& nickname, QString* error)
{
    const QByteArray record =
        datafile::encodeRecord({datafile::encodeText(StorableNickname(nickname))});
    return datafile::rewriteFile(nicknameFilePath(programDir),
                                 QDir(programDir).filePath(QStringLiteral("chattemp.dat")), record,
                                 error);
}

} // namespace yarnit
