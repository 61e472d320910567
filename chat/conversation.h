#pragma once

#include <QByteArray>
#include <QString>

// The chat's line format and the saved conversation.
namespace yarnit {

// What goes on the wire and into the conversation: the nickname, "- ", the message.
QByteArray ChatLine(const QByteArray& nickname, const QByteArray& message);

// The saved file: the whole conversation and one more CR LF.
QByteArray SavedConversation(const QByteArray& conversation);

// Creates or replaces the file at `path` with SavedConversation. An existing file is replaced
// in one step, so a failed write leaves it whole. Returns false, and why in *error, on failure.
bool SaveConversation(const QString& path, const QByteArray& conversation,
                      QString* error = nullptr);

} // namespace yarnit
