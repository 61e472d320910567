#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <memory>

namespace Ui {
class frmClient;
}
namespace tellaran {
class Tellaran;
}

namespace yarnit {

class ChatProgram;

// The chat window "Chat": the conversation, the line being typed and the Tellaran1 control
// that carries each line to the chat program on the other computer.
class frmClient : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmClient(ChatProgram& program);
    ~frmClient() override;

    tellaran::Tellaran* control() const;
    // The conversation as bytes: each line ended by CR LF, exactly what a save writes before
    // its final CR LF.
    const QByteArray& conversation() const { return conversation_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Command1_Click();
    void SvC_Click();
    void mnuExit_Click();
    void mnuConnect_Click();
    void mnuDisconnect_Click();
    void mnuSettings_Click();
    void Tellaran1_Connect();
    void Tellaran1_Disconnect();
    void Tellaran1_DataSendComplete();
    void Tellaran1_DataArrival(const QByteArray& Data);

    void appendLine(const QByteArray& line);
    void moveCaretToEnd();

    ChatProgram& program_;
    std::unique_ptr<Ui::frmClient> ui_;
    QByteArray conversation_;
};

} // namespace yarnit
