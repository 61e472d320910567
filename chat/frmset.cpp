#include "chat/frmset.h"

#include "chat/chatprogram.h"
#include "chat/nicknamefile.h"
#include "ui_frmset.h"

#include <QCloseEvent>

namespace yarnit {

frmset::frmset(ChatProgram& program) : program_(program), ui_(std::make_unique<Ui::frmset>())
{
    ui_->setupUi(this);
    connect(ui_->Command1, &QPushButton::clicked, this, &frmset::Command1_Click);
    connect(ui_->Command2, &QPushButton::clicked, this, &frmset::Command2_Click);

    // A folder we cannot write to still lets the user chat under the default name.
    EnsureNicknameFile(program_.programDir());
    ui_->Text1->setText(QString::fromLatin1(ReadNickname(program_.programDir())));
}

frmset::~frmset() = default;

QLineEdit* frmset::nicknameBox() const
{
    return ui_->Text1;
}

void frmset::Command1_Click()
{
    const QByteArray nickname = StorableNickname(ui_->Text1->text().toLatin1());
    // The box shows what is stored, so the lines sent from now on carry the same name.
    if (ui_->Text1->text() != QString::fromLatin1(nickname))
        ui_->Text1->setText(QString::fromLatin1(nickname));
    QString error;
    if (!SaveNickname(program_.programDir(), nickname, &error))
        program_.showError(this, tr("The nickname could not be saved.\n%1").arg(error));
    hide();
    program_.showChatWindow();
}

void frmset::Command2_Click()
{
    close();
}

void frmset::closeEvent(QCloseEvent* event)
{
    event->accept();
    program_.settingsWindowClosed(this);
}

} // namespace yarnit
