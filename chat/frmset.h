#pragma once

#include <QWidget>
#include <memory>

class QLineEdit;

namespace Ui {
class frmset;
}

namespace yarnit {

class ChatProgram;

// The nickname window "Settings". Loading it makes sure chat.dat exists and shows the stored
// nickname; Save stores the box's text and shows the chat, Cancel discards the window.
class frmset : public QWidget
{
    Q_OBJECT
public:
    explicit frmset(ChatProgram& program);
    ~frmset() override;

    // The nickname box: the nickname in use is whatever it holds when a line is sent.
    QLineEdit* nicknameBox() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Command1_Click();
    void Command2_Click();

    ChatProgram& program_;
    std::unique_ptr<Ui::frmset> ui_;
};

} // namespace yarnit
