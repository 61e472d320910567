#include "engine/windows/form8.h"

#include "engine/windows/imageclick.h"
#include "engine/windows/look.h"
#include "engine/windows/productlink.h"
#include "engine/windows/twips.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "engine/windows/windowsresources.h"
#include "ui_form8.h"

#include <QEvent>

namespace tellaran {

namespace {

// The credits were meant to move as fast as the timer allows; a tick every 15 ms scrolls
// them at about 44 pixels a second, readable and light on the processor.
constexpr int Timer2Interval = 15;

} // namespace

Form8::Form8(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Form8>())
{
    InitWindowsResources();
    ui->setupUi(this);
    ApplyLook(this);
    OnEscape(this, [this] { close(); });
    setAttribute(Qt::WA_DeleteOnClose);
    DragWindowOnPress(ui->Label3);
    DragWindowOnPress(ui->Image1);
    MakeProductLink(ui->Label4, engine);
    OnImageClick(ui->Label1, [this] { close(); });

    ui->Text1->setPlainText(CreditsText());
    // The credits are only to be read: no caret, no selection. The focus goes to the
    // viewport whenever they would get it.
    ui->Picture1->setFocusPolicy(Qt::StrongFocus);
    ui->Text1->setReadOnly(true);
    ui->Text1->setFocusPolicy(Qt::NoFocus);
    ui->Text1->installEventFilter(this);
    ui->Text1->viewport()->installEventFilter(this);
    placeCredits();

    KeepOnTop(QStringLiteral("Enabled"), this);
    Timer2.setInterval(Timer2Interval);
    connect(&Timer2, &QTimer::timeout, this, &Form8::Timer2_Timer);
    Timer2.start();
}

Form8::~Form8() = default;

void Form8::Timer2_Timer()
{
    const bool gone = ScrollCredits(credits_);
    placeCredits();
    if (gone) {
        Timer2.stop();
        close();
    }
}

void Form8::shutDown()
{
    Timer2.stop();
    hide();
}

void Form8::placeCredits()
{
    ui->Text1->move(ui->Text1->x(), TwipsToPixels(credits_.top));
}

// Installed on Text1 and its viewport only.
bool Form8::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        ui->Picture1->setFocus(Qt::OtherFocusReason);
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

} // namespace tellaran
