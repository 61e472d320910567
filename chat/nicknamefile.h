#pragma once

#include <QByteArray>
#include <QString>

// chat.dat beside the program: the nickname as one quoted field ended by CR LF.
namespace yarnit {

inline constexpr char DefaultNickname[] = "Username";

QString nicknameFilePath(const QString& programDir);

// Creates an empty chat.dat when it is missing; an existing file is left as it is.
bool EnsureNicknameFile(const QString& programDir);

// Reads every field of chat.dat in turn; the last one read is the nickname. A missing or
// unreadable file, no field, or an empty last field gives "Username".
QByteArray ReadNickname(const QString& programDir);

// The nickname as it can be stored: the file has no escape for a double quote, so a quote
// would cut the name short on reading; quotes are removed instead.
QByteArray StorableNickname(const QByteArray& nickname);

// Replaces chat.dat with the storable nickname in quotes and CR LF ("Ann" gives 7 bytes).
// Returns false, and why in *error, when the file cannot be written; the old one then stays.
bool SaveNickname(const QString& programDir, const QByteArray& nickname, QString* error = nullptr);

} // namespace yarnit
