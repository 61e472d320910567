#include "engine/calls/form5.h"

#include "engine/calls/callsresources.h"
#include "engine/calls/phonebook.h"
#include "engine/engine.h"
#include "engine/windows/imageclick.h"
#include "engine/windows/look.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "ui_form5.h"

#include <QCloseEvent>
#include <QDir>

namespace tellaran {

Form5::Form5(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Form5>()),
      engine_(engine)
{
    InitCallsResources();
    ui->setupUi(this);
    ApplyLook(this);
    SetDefaultButton(this, ui->Command1);
    OnEscape(this, [this] { Q_EMIT unloadRequested(); });
    DragWindowOnPress(ui->Label3);
    DragWindowOnPress(ui->Image1);
    OnImageClick(ui->Image2, [this] { Q_EMIT unloadRequested(); });
    connect(ui->Command1, &QPushButton::clicked, this, &Form5::AddPhoneEntry);
    connect(ui->Command2, &QPushButton::clicked, this, &Form5::unloadRequested);
    KeepOnTop(QStringLiteral("Enabled"), this);
}

Form5::~Form5() = default;

bool Form5::Refuse(const QString& text)
{
    engine_.messageBoxes().show(text, QString(), BoxIcon::None, BoxButtons::Ok);
    return false;
}

void Form5::AddPhoneEntry()
{
    const PhoneEntry entry{ui->Text1->text().toLatin1(), ui->Text2->text().toLatin1()};
    if (entry.name.isEmpty()) {
        Refuse(QStringLiteral("Please fill the name of the person"));
        return;
    }
    if (entry.number.isEmpty()) {
        Refuse(QStringLiteral("Please fill the phone number of the person"));
        return;
    }
    // The phone book has no way to store a double quote; refusing keeps the file readable.
    if (!IsStorablePhoneEntry(entry)) {
        Refuse(QStringLiteral("A name or phone number cannot contain a double quote (\"). "
                              "Please remove it and press Add again."));
        return;
    }
    const PhoneBookFile book(engine_.programDir());
    QString error;
    if (!book.AddPhoneEntry(entry, &error)) {
        Refuse(QStringLiteral("The entry could not be added to the phone book %1: %2")
                   .arg(QDir::toNativeSeparators(book.path()), error));
        return;
    }
    Q_EMIT phoneEntryAdded();
    Q_EMIT unloadRequested();
}

// Closed by the window system: the same as "Cancel".
void Form5::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->spontaneous())
        Q_EMIT unloadRequested();
}

} // namespace tellaran
