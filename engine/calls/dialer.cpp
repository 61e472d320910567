#include "engine/calls/dialer.h"

#include "engine/calls/callsresources.h"
#include "engine/engine.h"
#include "engine/settings/settingsfile.h"
#include "engine/windows/imageclick.h"
#include "engine/windows/look.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "ui_dialer.h"

#include <QCloseEvent>
#include <QDir>

namespace tellaran {

Dialer::Dialer(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Dialer>()),
      engine_(engine)
{
    InitCallsResources();
    ui->setupUi(this);
    ApplyLook(this);
    SetDefaultButton(this, ui->Command1);
    OnEscape(this, [this] { engine_.endProgram(); });
    DragWindowOnPress(ui->Label3);
    DragWindowOnPress(ui->Image13);
    OnImageClick(ui->Image14, [this] { engine_.endProgram(); });

    QWidget* const keys[] = {ui->Image_0, ui->Image_1, ui->Image_2, ui->Image_3, ui->Image_4,
                             ui->Image_5, ui->Image_6, ui->Image_7, ui->Image_8, ui->Image_9};
    for (int digit = 0; digit < 10; ++digit)
        OnImageClick(keys[digit], [this, digit] { KeyPad_Click(digit); });

    connect(ui->List1, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { List1_Click(ui->List1->row(item)); });
    connect(ui->List1, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { List1_Click(ui->List1->row(item)); });
    // The arrow keys choose as a click does. Only a chosen (selected) line counts: the line
    // that the list makes current when it takes the focus is not chosen yet.
    connect(ui->List1, &QListWidget::itemSelectionChanged, this, [this] {
        const QListWidgetItem* current = ui->List1->currentItem();
        if (current && current->isSelected())
            List1_Click(ui->List1->row(current));
    });
    connect(ui->Command1, &QPushButton::clicked, this, &Dialer::placeCallRequested);
    connect(ui->Command2, &QPushButton::clicked, this, &Dialer::addEntryRequested);
    connect(ui->Command3, &QPushButton::clicked, this, &Dialer::Command3_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &Dialer::Command4_Click);
}

Dialer::~Dialer() = default;

void Dialer::Load()
{
    // Loads the status window, hidden: local programs can register before any call.
    engine_.statusWindow();
    KeepOnTop(QStringLiteral("Enabled"), this);
    ui->Text3->setText(QString::fromLatin1(SettingsFile(engine_.programDir()).ReadStoredTime()));
    LoadPhoneBook();
}

void Dialer::LoadPhoneBook()
{
    ui->List1->clear();
    const PhoneBookFile book(engine_.programDir());
    QString error;
    if (!book.LoadPhoneBook(&entries_, &error)) {
        engine_.messageBoxes().show(QStringLiteral("The phone book %1 could not be read: %2")
                                        .arg(QDir::toNativeSeparators(book.path()), error),
                                    QString(), BoxIcon::Critical, BoxButtons::Ok);
        return;
    }
    for (const PhoneEntry& entry : entries_)
        ui->List1->addItem(QString::fromLatin1(FormatBookLine(entry.name, entry.number)));
}

void Dialer::DeletePhoneEntries(const QByteArray& selectedLine)
{
    const PhoneBookFile book(engine_.programDir());
    QString error;
    if (!book.DeletePhoneEntries(selectedLine, nullptr, &error)) {
        engine_.messageBoxes().show(
            QStringLiteral("The entry could not be deleted from the phone book %1: %2")
                .arg(QDir::toNativeSeparators(book.path()), error),
            QString(), BoxIcon::Critical, BoxButtons::Ok);
    }
    LoadPhoneBook();
}

QString Dialer::numberText() const
{
    return ui->Text1->text();
}

QString Dialer::timeText() const
{
    return ui->Text3->text();
}

void Dialer::setTimeText(const QString& text)
{
    ui->Text3->setText(text);
}

void Dialer::shutDown()
{
    ending_ = true;
    hide();
}

// The record's own number, whatever blanks its name holds.
void Dialer::List1_Click(int row)
{
    if (row >= 0 && row < entries_.size())
        ui->Text1->setText(QString::fromLatin1(entries_[row].number));
}

void Dialer::KeyPad_Click(int digit)
{
    ui->Text1->setText(ui->Text1->text() + QString::number(digit).right(1));
}

void Dialer::Command3_Click()
{
    const QListWidgetItem* selected = ui->List1->currentItem();
    const QByteArray line =
        selected && selected->isSelected() ? selected->text().toLatin1() : QByteArray();
    DeletePhoneEntries(line);
}

void Dialer::Command4_Click()
{
    // The field keeps showing the last call's time; the stored value is what changes.
    const SettingsFile settings(engine_.programDir());
    QString error;
    if (!settings.ResetConnectionTime(&error)) {
        engine_.messageBoxes().show(QStringLiteral("The connection time could not be reset in "
                                                   "%1: %2")
                                        .arg(QDir::toNativeSeparators(settings.path()), error),
                                    QString(), BoxIcon::Critical, BoxButtons::Ok);
    }
}

// Closed by the window system: as the close image does, since nothing else would be left
// for the user to work with.
void Dialer::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->spontaneous() && !ending_)
        engine_.endProgram();
}

} // namespace tellaran
