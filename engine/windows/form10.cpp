#include "engine/windows/form10.h"

#include "engine/engine.h"
#include "engine/link/frames.h"
#include "engine/windows/imageclick.h"
#include "engine/windows/look.h"
#include "engine/windows/usermessages.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "engine/windows/windowsresources.h"
#include "ui_form10.h"

namespace tellaran {

Form10::Form10(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Form10>()),
      engine_(engine)
{
    InitWindowsResources();
    ui->setupUi(this);
    ApplyLook(this);
    // Enter in the text sends it.
    SetDefaultButton(this, ui->Command1);
    OnEscape(this, [this] { hide(); });
    DragWindowOnPress(ui->Label1);
    DragWindowOnPress(ui->Image1);
    // Closing keeps the text and the connection for the next message.
    OnImageClick(ui->Image2, [this] { hide(); });
    connect(ui->Command1, &QPushButton::clicked, this, &Form10::Command1_Click);

    connect(&Winsock1, &Socket::ConnectEvent, this, &Form10::Winsock1_Connect);
    connect(&Winsock1, &Socket::CloseEvent, this, &Form10::Winsock1_Close);
    // Nothing is ever sent to this connection; whatever arrives is dropped.
    connect(&Winsock1, &Socket::DataArrivalEvent, this, [this] { Winsock1.GetData(); });
}

Form10::~Form10() = default;

void Form10::showWindow()
{
    if (ending_)
        return;
    if (Winsock1.State() != Socket::Connected && Winsock1.State() != Socket::Connecting)
        connectWinsock();
    show();
    raise();
    activateWindow();
    ui->Text1->setFocus();
}

void Form10::Command1_Click()
{
    if (ending_)
        return;
    const QByteArray text = ui->Text1->text().toLatin1();
    const QString refusal = UnsendableMessageReason(text);
    if (!refusal.isEmpty()) {
        engine_.messageBoxes().show(refusal, QString(), BoxIcon::Warning, BoxButtons::Ok);
        return;
    }
    if (Winsock1.State() != Socket::Connected) {
        // The text stays; the user sends it again once the connection is up.
        ui->Label2->setText(NotConnectedText());
        if (Winsock1.State() != Socket::Connecting)
            connectWinsock();
        return;
    }
    Winsock1.SendData(frames::messageFrame(text));
    ui->Text1->clear();
    ui->Text1->setFocus();
    hide();
}

void Form10::shutDown()
{
    ending_ = true;
    Winsock1.Close();
    hide();
}

QString Form10::statusText() const
{
    return ui->Label2->text();
}

void Form10::connectWinsock()
{
    if (Winsock1.State() != Socket::Closed)
        Winsock1.Close();
    Winsock1.Connect(QStringLiteral("127.0.0.1"), engine_.channelPort());
}

void Form10::Winsock1_Connect()
{
    ui->Label2->clear();
}

// The engine closed the connection: the next "Send" or showing makes it again.
void Form10::Winsock1_Close()
{
    Winsock1.Close();
}

} // namespace tellaran
