#include "engine/launcher/programlisteditor.h"

#include "engine/engine.h"
#include "engine/launcher/launcherresources.h"
#include "engine/launcher/programlist.h"
#include "engine/windows/imageclick.h"
#include "engine/windows/look.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "ui_programlisteditor.h"

#include <QCloseEvent>
#include <QDir>

namespace tellaran {

ProgramListEditor::ProgramListEditor(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      ui(std::make_unique<Ui::ProgramListEditor>()), engine_(engine)
{
    InitLauncherResources();
    ui->setupUi(this);
    ApplyLook(this);
    SetDefaultButton(this, ui->Command1);
    OnEscape(this, [this] { Q_EMIT unloadRequested(); });
    DragWindowOnPress(ui->Label1);
    DragWindowOnPress(ui->Image2);
    DragWindowOnPress(ui->Background);
    OnImageClick(ui->Image1, [this] { Q_EMIT unloadRequested(); });
    connect(ui->Command1, &QPushButton::clicked, this, &ProgramListEditor::AddProgram);
    connect(ui->Command2, &QPushButton::clicked, this, &ProgramListEditor::DeletePrograms);
    // A line counts as chosen once it is selected (a click, the arrow keys); the line that
    // the list makes current when it takes the focus is not chosen.
    connect(ui->List1, &QListWidget::itemSelectionChanged, this, [this] {
        if (const QListWidgetItem* chosen = selectedItem())
            ShowProgram(chosen->text());
    });
    KeepOnTop(QStringLiteral("Enabled"), this);
}

ProgramListEditor::~ProgramListEditor() = default;

void ProgramListEditor::Report(const QString& text)
{
    engine_.messageBoxes().show(text, QString(), BoxIcon::Warning, BoxButtons::Ok);
}

void ProgramListEditor::Load()
{
    FillList();
}

void ProgramListEditor::FillList()
{
    // Clearing the list must not count as selecting a line.
    const QSignalBlocker quiet(ui->List1);
    ui->List1->clear();
    const ProgramListFile list(engine_.programDir());
    QList<ProgramEntry> entries;
    QString error;
    if (!list.LoadProgramList(&entries, &error)) {
        Report(QStringLiteral("The program list %1 could not be read: %2")
                   .arg(QDir::toNativeSeparators(list.path()), error));
        return;
    }
    for (const ProgramEntry& entry : entries)
        ui->List1->addItem(QString::fromLatin1(entry.name));
}

void ProgramListEditor::AddProgram()
{
    const ProgramEntry entry{ui->Text1->text().toLatin1(), ui->Text2->text().toLatin1()};
    const QString problem = ProgramEntryProblem(entry);
    if (!problem.isEmpty()) {
        Report(problem + QStringLiteral(" Please change it and press Add again."));
        return;
    }
    const ProgramListFile list(engine_.programDir());
    QString error;
    if (!list.AppendProgram(entry, &error)) {
        Report(QStringLiteral("The program could not be added to the program list %1: %2")
                   .arg(QDir::toNativeSeparators(list.path()), error));
        return;
    }
    const QSignalBlocker quiet(ui->List1);
    ui->List1->addItem(ui->Text1->text());
}

void ProgramListEditor::DeletePrograms()
{
    const QListWidgetItem* selected = selectedItem();
    const QByteArray name = selected ? selected->text().toLatin1() : QByteArray();
    const ProgramListFile list(engine_.programDir());
    QString error;
    if (!list.DeleteProgramsNamed(name, nullptr, &error)) {
        Report(QStringLiteral("The program list %1 was left as it was; the entries could not be "
                              "deleted: %2")
                   .arg(QDir::toNativeSeparators(list.path()), error));
        return;
    }
    FillList();
    ui->Text1->clear();
    ui->Text2->clear();
}

const QListWidgetItem* ProgramListEditor::selectedItem() const
{
    const QListWidgetItem* current = ui->List1->currentItem();
    return current && current->isSelected() ? current : nullptr;
}

void ProgramListEditor::ShowProgram(const QString& name)
{
    ui->Text1->setText(name);
    const ProgramListFile list(engine_.programDir());
    std::optional<QByteArray> path;
    QString error;
    if (!list.FindProgramPath(name.toLatin1(), &path, &error)) {
        Report(QStringLiteral("The program list %1 could not be read: %2")
                   .arg(QDir::toNativeSeparators(list.path()), error));
        return;
    }
    if (path)
        ui->Text2->setText(QString::fromLatin1(*path));
}

// Closed by the window system: the same as the close picture.
void ProgramListEditor::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->spontaneous())
        Q_EMIT unloadRequested();
}

} // namespace tellaran
