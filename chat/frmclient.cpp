#include "chat/frmclient.h"

#include "chat/chatprogram.h"
#include "chat/conversation.h"
#include "chat/frmset.h"
#include "client/tellaran.h"
#include "ui_frmclient.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTextCursor>

namespace yarnit {

frmClient::frmClient(ChatProgram& program)
    : program_(program), ui_(std::make_unique<Ui::frmClient>())
{
    ui_->setupUi(this);

    connect(ui_->Command1, &QPushButton::clicked, this, &frmClient::Command1_Click);
    connect(ui_->SvC, &QAction::triggered, this, &frmClient::SvC_Click);
    connect(ui_->mnuExit, &QAction::triggered, this, &frmClient::mnuExit_Click);
    connect(ui_->mnuConnect, &QAction::triggered, this, &frmClient::mnuConnect_Click);
    connect(ui_->mnuDisconnect, &QAction::triggered, this, &frmClient::mnuDisconnect_Click);
    connect(ui_->mnuSettings, &QAction::triggered, this, &frmClient::mnuSettings_Click);
    // mnuAbout does nothing.

    tellaran::Tellaran* link = ui_->Tellaran1;
    connect(link, &tellaran::Tellaran::ConnectEvent, this, &frmClient::Tellaran1_Connect);
    connect(link, &tellaran::Tellaran::DisconnectEvent, this, &frmClient::Tellaran1_Disconnect);
    connect(link, &tellaran::Tellaran::DataSendCompleteEvent, this,
            &frmClient::Tellaran1_DataSendComplete);
    connect(link, &tellaran::Tellaran::DataArrivalEvent, this, &frmClient::Tellaran1_DataArrival);

    ui_->Text1->installEventFilter(this);
    ui_->Text2->installEventFilter(this);
}

frmClient::~frmClient() = default;

tellaran::Tellaran* frmClient::control() const
{
    return ui_->Tellaran1;
}

bool frmClient::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui_->Text2 && event->type() == QEvent::FocusIn) {
        // The conversation is only read; typing always goes to the input box.
        ui_->Text1->setFocus(Qt::OtherFocusReason);
        return false;
    }
    if (watched == ui_->Text1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Command1_Click();
            return true; // the Enter itself never reaches the box
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmClient::closeEvent(QCloseEvent* event)
{
    event->accept();
    program_.endProgram();
}

void frmClient::Command1_Click()
{
    const QByteArray nickname = program_.settingsWindow().nicknameBox()->text().toLatin1();
    QByteArray message = ui_->Text1->toPlainText().toLatin1();
    message.replace("\n", "\r\n");
    const QByteArray line = ChatLine(nickname, message);

    ui_->Tellaran1->SendData(line);
    appendLine(line);
    ui_->Text1->clear();
}

void frmClient::SvC_Click()
{
    const QString path = program_.GetSaveAsName(this, QStringLiteral("Conversation.txt"),
                                                program_.conversationFolder());
    if (path.isEmpty())
        return; // cancelled: nothing to write
    QString error;
    if (!SaveConversation(path, conversation_, &error))
        program_.showError(this, tr("The conversation could not be saved.\n%1").arg(error));
}

void frmClient::mnuExit_Click()
{
    close();
}

void frmClient::mnuConnect_Click()
{
    ui_->Tellaran1->Connect();
    // The nickname is fixed while connected.
    program_.settingsWindow().nicknameBox()->setReadOnly(true);
}

void frmClient::mnuDisconnect_Click()
{
    program_.settingsWindow().nicknameBox()->setReadOnly(false);
    ui_->Tellaran1->Closeconnection();
}

void frmClient::mnuSettings_Click()
{
    program_.showSettingsWindow();
}

void frmClient::Tellaran1_Connect()
{
    ui_->Label1->setText(QStringLiteral("Status : Connected"));
    ui_->mnuConnect->setEnabled(false);
    ui_->mnuDisconnect->setEnabled(true);
    moveCaretToEnd();
}

void frmClient::Tellaran1_Disconnect()
{
    ui_->Label1->setText(QStringLiteral("Status : Disconnected"));
    ui_->mnuConnect->setEnabled(true);
    ui_->mnuDisconnect->setEnabled(false);
}

void frmClient::Tellaran1_DataSendComplete()
{
    ui_->Label1->setText(QStringLiteral("Data sent"));
}

void frmClient::Tellaran1_DataArrival(const QByteArray& Data)
{
    appendLine(Data);
}

void frmClient::appendLine(const QByteArray& line)
{
    const QByteArray ended = line + "\r\n";
    conversation_ += ended;
    QTextCursor end(ui_->Text2->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromLatin1(ended));
    moveCaretToEnd();
}

void frmClient::moveCaretToEnd()
{
    ui_->Text2->moveCursor(QTextCursor::End);
    ui_->Text2->ensureCursorVisible();
}

} // namespace yarnit
