#include "engine/calls/form3.h"

#include "engine/calls/callsresources.h"
#include "engine/calls/datafilesetup.h"
#include "engine/engine.h"
#include "engine/windows/imageclick.h"
#include "engine/windows/look.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "ui_form3.h"

#include <QCloseEvent>
#include <QDir>

namespace tellaran {

namespace {

QString SetupTitle()
{
    return QStringLiteral("Tellaran Setup");
}

} // namespace

Form3::Form3(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Form3>()),
      engine_(engine)
{
    InitCallsResources();
    ui->setupUi(this);
    ApplyLook(this);
    // Escape does what the close picture does.
    OnEscape(this, [this] { engine_.endProgram(); });
    DragWindowOnPress(ui->Label1);
    DragWindowOnPress(ui->Image1);
    connect(ui->Option1, &QRadioButton::clicked, this, &Form3::callModeChosen);
    connect(ui->Option2, &QRadioButton::clicked, this, &Form3::answerModeChosen);
    connect(ui->Command3, &QPushButton::clicked, this, &Form3::Command3_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &Form3::Command4_Click);
    OnImageClick(ui->Image2, [this] { engine_.endProgram(); });
}

Form3::~Form3() = default;

void Form3::CheckDataFiles()
{
    KeepOnTop(QStringLiteral("Enabled"), this);
    if (!AllDataFilesPresent(engine_.programDir()))
        InstallDataFiles();
}

void Form3::InstallDataFiles()
{
    MessageBoxService& boxes = engine_.messageBoxes();
    boxes.show(QStringLiteral("Tellaran will now install the required data files"), SetupTitle(),
               BoxIcon::Information, BoxButtons::Ok);
    engine_.showSettingsDialog();

    // Only what is missing is created: an existing phone book or program list is kept.
    const QList<DataFileProblem> problems = CreateMissingDataFiles(engine_.programDir());
    for (const DataFileProblem& problem : problems) {
        boxes.show(QStringLiteral("The data file %1 could not be created: %2")
                       .arg(QDir::toNativeSeparators(problem.path), problem.reason),
                   SetupTitle(), BoxIcon::Critical, BoxButtons::Ok);
    }
    if (problems.isEmpty()) {
        boxes.show(QStringLiteral("Installation complete"), SetupTitle(), BoxIcon::Information,
                   BoxButtons::Ok);
    }

    engine_.setInstallation();
    engine_.showSettingsDialog();
    boxes.show(QStringLiteral("Please choose your modem options and enter your phone number "
                              "and comm port in the required field."),
               SetupTitle(), BoxIcon::Information, BoxButtons::Ok);
}

void Form3::shutDown()
{
    ending_ = true;
    hide();
}

void Form3::Command3_Click()
{
    engine_.showSettingsDialog();
}

void Form3::Command4_Click()
{
    OpenDocument(engine_.helpFile());
}

// Closed by the window system: as the close image does, since nothing else would be left
// for the user to work with.
void Form3::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->spontaneous() && !ending_)
        engine_.endProgram();
}

} // namespace tellaran
