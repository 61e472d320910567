#pragma once

#include <QString>

class QWidget;

namespace yarnit {

// The save dialog of "Save Conversation": proposes sInName in sInitialDir, lists text
// documents, adds "txt" to a name typed without an extension and asks before overwriting.
// Returns the chosen path, or an empty text when the user cancels.
QString showSaveAsDialog(QWidget* owner, const QString& sInName, const QString& sInitialDir);

} // namespace yarnit
