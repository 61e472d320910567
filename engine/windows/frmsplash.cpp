#include "engine/windows/frmsplash.h"

#include "engine/engine.h"
#include "engine/windows/look.h"
#include "engine/windows/productlink.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowsresources.h"
#include "ui_frmsplash.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

namespace tellaran {

namespace {

constexpr int Timer1Interval = 2000;

} // namespace

frmSplash::frmSplash(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::frmSplash>()),
      engine_(engine)
{
    InitWindowsResources();
    ui->setupUi(this);
    ApplyLook(this);
    setAttribute(Qt::WA_DeleteOnClose);
    DragWindowOnPress(ui->Image1);
    MakeProductLink(ui->Label4, engine_);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Never early: the mode window must not come before the two seconds are up.
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer1.setInterval(Timer1Interval);
    connect(&Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
}

frmSplash::~frmSplash() = default;

void frmSplash::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!Timer1.isActive())
        Timer1.start();
}

void frmSplash::Timer1_Timer()
{
    // Stopped first: the first run's message boxes run their own event loops, in which a
    // second tick would start a second hand-over.
    Timer1.stop();
    QPointer<frmSplash> alive(this);
    engine_.showModeWindow();
    if (!alive)
        return;
    close();
    if (engine_.installation())
        engine_.hideModeWindow();
}

void frmSplash::shutDown()
{
    Timer1.stop();
    hide();
}

} // namespace tellaran
