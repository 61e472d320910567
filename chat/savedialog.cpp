#include "chat/savedialog.h"

#include <QDir>
#include <QFileDialog>

namespace yarnit {

QString showSaveAsDialog(QWidget* owner, const QString& sInName, const QString& sInitialDir)
{
    QFileDialog dialog(owner, QStringLiteral("Save Conversation As..."), sInitialDir,
                       QStringLiteral("Text Document (.txt) (*.doc)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QDir(sInitialDir).filePath(sInName));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

} // namespace yarnit
