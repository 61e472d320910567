#include "chat/frmset.h"

#include "chat/chatprogram.h"
#include "chat/nicknamefile.h"
#include "ui_frmset.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>

namespace yarnit {

namespace {

// A plain widget as a window is a client area to Qt; screen readers are to find a window.
QAccessibleInterface* windowAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("yarnit::frmset"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

frmset::frmset(ChatProgram& program) : program_(program), ui_(std::make_unique<Ui::frmset>())
{
    static const bool accessible = (QAccessible::installFactory(windowAccessible), true);
    Q_UNUSED(accessible);
    ui_->setupUi(this);
    connect(ui_->Command1, &QPushButton::clicked, this, &frmset::Command1_Click);
    connect(ui_->Command2, &QPushButton::clicked, this, &frmset::Command2_Click);
    ui_->Command1->setDefault(true);

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

// Enter saves (or presses the focused button), Escape cancels: the nickname box passes both
// on to the window.
void frmset::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (QApplication::focusWidget() == ui_->Command2)
            Command2_Click();
        else
            Command1_Click();
        return;
    case Qt::Key_Escape:
        Command2_Click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void frmset::closeEvent(QCloseEvent* event)
{
    event->accept();
    program_.settingsWindowClosed(this);
}

} // namespace yarnit
