#include "engine/calls/form6.h"

#include "engine/calls/callsresources.h"
#include "engine/engine.h"
#include "engine/windows/imageclick.h"
#include "engine/windows/look.h"
#include "engine/windows/twips.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "ui_form6.h"

#include <QCloseEvent>

namespace tellaran {

Form6::Form6(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Form6>()),
      engine_(engine)
{
    InitCallsResources();
    ui->setupUi(this);
    ApplyLook(this);
    OnEscape(this, [this] { engine_.endProgram(); });
    DragWindowOnPress(ui->Label1);
    DragWindowOnPress(ui->Image1);
    OnImageClick(ui->Image2, [this] { engine_.endProgram(); });
    connect(ui->Command1, &QPushButton::clicked, this, &Form6::ToggleDetails);
    resize(width(), TwipsToPixels(CollapsedHeightTwips));
    KeepOnTop(QStringLiteral("Enabled"), this);
}

Form6::~Form6() = default;

void Form6::setState(const QString& text)
{
    ui->Label2->setText(text);
    ui->Text1->setPlainText(text);
}

// Any height but the expanded one expands, so a window resized by other means still
// toggles.
void Form6::ToggleDetails()
{
    if (PixelsToTwips(height()) == ExpandedHeightTwips) {
        resize(width(), TwipsToPixels(CollapsedHeightTwips));
        ui->Command1->setText(QStringLiteral("Details >>"));
    } else {
        resize(width(), TwipsToPixels(ExpandedHeightTwips));
        ui->Command1->setText(QStringLiteral("<< Details"));
    }
}

void Form6::shutDown()
{
    ending_ = true;
    hide();
}

// Closed by the window system: as the close image does, since nothing else would be left
// for the user to work with.
void Form6::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->spontaneous() && !ending_)
        engine_.endProgram();
}

} // namespace tellaran
