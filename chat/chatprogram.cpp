#include "chat/chatprogram.h"

#include "chat/frmclient.h"
#include "chat/frmset.h"
#include "chat/savedialog.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>

namespace yarnit {

ChatProgram::Hooks ChatProgram::desktopHooks()
{
    Hooks hooks;
    hooks.getSaveAsName = &showSaveAsDialog;
    hooks.showError = [](QWidget* owner, const QString& text) {
        QMessageBox::warning(owner, QGuiApplication::applicationDisplayName(), text);
    };
    hooks.endProgram = [] { QCoreApplication::quit(); };
    return hooks;
}

ChatProgram::ChatProgram(const QString& programDir, Hooks hooks)
    : programDir_(programDir), hooks_(std::move(hooks))
{}

ChatProgram::~ChatProgram() = default;

void ChatProgram::Start()
{
    showSettingsWindow();
}

frmset& ChatProgram::settingsWindow()
{
    if (!settings_)
        settings_ = std::make_unique<frmset>(*this);
    return *settings_;
}

void ChatProgram::showSettingsWindow()
{
    frmset& window = settingsWindow();
    window.show();
    window.raise();
    window.activateWindow();
}

void ChatProgram::settingsWindowClosed(const frmset* window)
{
    if (window != settings_.get())
        return;
    retiredSettings_ = std::move(settings_);
    if (!chat_ || !chat_->isVisible())
        endProgram();
}

frmClient& ChatProgram::chatWindow()
{
    if (!chat_)
        chat_ = std::make_unique<frmClient>(*this);
    return *chat_;
}

void ChatProgram::showChatWindow()
{
    frmClient& window = chatWindow();
    window.show();
    window.raise();
    window.activateWindow();
}

QString ChatProgram::GetSaveAsName(QWidget* owner, const QString& sInName,
                                   const QString& sInitialDir)
{
    return hooks_.getSaveAsName ? hooks_.getSaveAsName(owner, sInName, sInitialDir) : QString();
}

void ChatProgram::showError(QWidget* owner, const QString& text)
{
    if (hooks_.showError)
        hooks_.showError(owner, text);
}

void ChatProgram::endProgram()
{
    if (hooks_.endProgram)
        hooks_.endProgram();
}

} // namespace yarnit
