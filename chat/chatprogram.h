#pragma once

#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace yarnit {

class frmClient;
class frmset;

// The chat program Yarnit: its two windows, the folder of chat.dat and what it asks of the
// desktop (the save dialog, error boxes, ending the program). Nothing is global, so tests run
// it with a temporary folder and scripted answers.
class ChatProgram
{
public:
    struct Hooks
    {
        // Asks for the file to save the conversation in; empty when the user cancels.
        std::function<QString(QWidget* owner, const QString& sInName, const QString& sInitialDir)>
            getSaveAsName;
        // Reports a failure the user must know about (a file that could not be written).
        std::function<void(QWidget* owner, const QString& text)> showError;
        std::function<void()> endProgram;
    };

    // Production: the save dialog, message boxes and quitting the event loop.
    static Hooks desktopHooks();

    explicit ChatProgram(const QString& programDir, Hooks hooks = desktopHooks());
    ~ChatProgram();
    ChatProgram(const ChatProgram&) = delete;
    ChatProgram& operator=(const ChatProgram&) = delete;

    // Opens the nickname window; the chat window follows when the user saves a nickname.
    void Start();

    const QString& programDir() const { return programDir_; }
    // Where the save dialog starts: the program's folder unless set otherwise (an installed
    // program keeps its files in a hidden per-user folder, no place for a user's documents).
    QString conversationFolder() const
    {
        return conversationFolder_.isEmpty() ? programDir_ : conversationFolder_;
    }
    void setConversationFolder(const QString& folder) { conversationFolder_ = folder; }

    // Created on first use (reading chat.dat) and again after a Cancel discarded it.
    frmset& settingsWindow();
    bool isSettingsWindowLoaded() const { return settings_ != nullptr; }
    void showSettingsWindow();
    // The nickname window was closed or cancelled: discard it. With no chat window on the
    // screen no window is left, and the program ends.
    void settingsWindowClosed(const frmset* window);

    frmClient& chatWindow();
    bool isChatWindowLoaded() const { return chat_ != nullptr; }
    void showChatWindow();

    QString GetSaveAsName(QWidget* owner, const QString& sInName, const QString& sInitialDir);
    void showError(QWidget* owner, const QString& text);
    void endProgram();

private:
    QString programDir_;
    QString conversationFolder_;
    Hooks hooks_;
    std::unique_ptr<frmClient> chat_;
    std::unique_ptr<frmset> settings_;
    // A discarded nickname window is destroyed later, never inside its own close event.
    std::unique_ptr<frmset> retiredSettings_;
};

} // namespace yarnit
