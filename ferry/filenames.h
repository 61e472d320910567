#pragma once

#include <QByteArray>
#include <QString>

// The names under which received files are stored. What the other computer offers is only
// a wish: just its last part is used, cleaned of what could hide it, move it or confuse a
// reader, and a name already in the folder is never taken.
namespace ferryit {

// Longest name kept, in UTF-8 bytes: room is left for " (999)" and ".part" within the
// 255 bytes a Linux file name may have.
inline constexpr qsizetype MaxStoredNameBytes = 240;

struct CleanedName
{
    // The name to store under; empty when the offer must be refused.
    QString name;
    // Why the name differs from the one offered, for the user; empty when it does not.
    QString note;
    // Why the offer is refused, when `name` is empty.
    QString refusal;
};

CleanedName cleanOfferedName(const QByteArray& offered);

// A name as the user may safely see it in a message: control characters shown as '?',
// at most 80 characters.
QString printableName(const QString& name);

// The n-th alternative of a name: "photo (1).jpg", "archive (2).tar.gz", "README (3)";
// n = 0 gives the name itself.
QString numberedName(const QString& name, int n);

} // namespace ferryit
