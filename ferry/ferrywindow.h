#pragma once

#include "ferry/ferrysession.h"

#include <QHash>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

class QTreeWidgetItem;

namespace Ui {
class FerryWindow;
}
namespace tellaran {
class Tellaran;
}

namespace ferryit {

// The Ferryit window: the list of transfers both ways, the buttons that act on the selected
// one, the folder received files go into, and the state of the link. The protocol itself is
// the session's; the window only shows it and passes on what the user does.
class FerryWindow : public QMainWindow
{
    Q_OBJECT
public:
    struct Hooks
    {
        // Asks for files to send; empty when the user cancels.
        std::function<QStringList(QWidget* owner)> chooseFiles;
        // Asks for the folder received files go into; empty when the user cancels.
        std::function<QString(QWidget* owner, const QString& current)> chooseFolder;
        // Reports a failure the user must know about.
        std::function<void(QWidget* owner, const QString& text)> showError;
        std::function<void()> endProgram;
    };
    // Production: file dialogs, message boxes and quitting the event loop.
    static Hooks desktopHooks();

    // `programDir` holds Ferryit's own files (ferryit.dat, parts.dat).
    FerryWindow(const QString& programDir, Hooks hooks = desktopHooks(),
                FerrySession::Options sessionOptions = {});
    ~FerryWindow() override;

    tellaran::Tellaran* control() const;
    FerrySession& session() { return *session_; }
    QTreeWidgetItem* item(quint64 key) const { return items_.value(key); }

    // Connects to the engine (at start, and on Reconnect).
    void connectToEngine();
    void sendFiles(const QStringList& paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void SendFiles_Click();
    void SendAgain_Click();
    void CancelTransfer_Click();
    void AcceptOffer_Click();
    void DeclineOffer_Click();
    void ChooseFolder_Click();
    void Tellaran1_Connect();
    void Tellaran1_Disconnect();
    void watchConnecting();

    void addRow(quint64 key);
    void updateRow(quint64 key);
    void removeRow(quint64 key);
    void updatePeer();
    void updateButtons();
    const TransferInfo* selected() const;

    std::unique_ptr<Ui::FerryWindow> ui_;
    QString programDir_;
    Hooks hooks_;
    std::unique_ptr<FerrySession> session_;
    QHash<quint64, QTreeWidgetItem*> items_;
    QTimer connectWatch_;
    bool closing_ = false;
};

} // namespace ferryit
