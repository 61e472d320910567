#include "engine/windows/datafrm.h"

#include "engine/channels/form2.h"
#include "engine/engine.h"
#include "engine/windows/infostatistics.h"
#include "engine/windows/look.h"
#include "engine/windows/twips.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowsresources.h"
#include "ui_datafrm.h"

namespace tellaran {

namespace {

// The slides were meant to run as fast as the timer allows; a tick every 15 ms takes the
// panel out in under half a second without keeping the processor busy.
constexpr int SlideInterval = 15;
constexpr int DisplayInterval = 1000;

void runTimer(QTimer& timer, bool running)
{
    if (running && !timer.isActive())
        timer.start();
    else if (!running && timer.isActive())
        timer.stop();
}

} // namespace

datafrm::datafrm(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::datafrm>()),
      engine_(engine)
{
    InitWindowsResources();
    ui->setupUi(this);
    ApplyLook(this);
    // It opens by itself when traffic starts: it must not take the focus from the user.
    setAttribute(Qt::WA_ShowWithoutActivating);
    DragWindowOnPress(ui->Back);
    for (QWidget* label : {static_cast<QWidget*>(ui->Label2), static_cast<QWidget*>(ui->Label3)})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);

    Timer1.setInterval(SlideInterval);
    Timer2.setInterval(SlideInterval);
    Timer4.setInterval(DisplayInterval);
    connect(&Timer1, &QTimer::timeout, this, &datafrm::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, &datafrm::Timer2_Timer);
    connect(&Timer4, &QTimer::timeout, this, &datafrm::Timer4_Timer);

    // Creation: on top, at the status window's right edge, empty, and opening.
    step_ = 0;
    KeepOnTop(QStringLiteral("Enabled"), this);
    const QRect status = engine_.statusWindow().frameGeometry();
    move(status.x() + status.width(), status.y());
    slide_ = NewInfoBoxSlide();
    applySlide();
    Timer4.start();
}

datafrm::~datafrm() = default;

void datafrm::Toggle(bool& showdata)
{
    ToggleInfoBox(slide_, showdata);
    applySlide();
}

void datafrm::shutDown()
{
    Timer1.stop();
    Timer2.stop();
    Timer4.stop();
    slide_.opening = slide_.closing = false;
    hide();
}

void datafrm::Timer1_Timer()
{
    OpeningTick(slide_);
    applySlide();
}

void datafrm::Timer2_Timer()
{
    ClosingTick(slide_);
    applySlide();
}

void datafrm::Timer4_Timer()
{
    if (!slide_.open)
        return;
    const int shown = AdvanceStatisticStep(step_);
    // The settings are read only for the statistic that shows them.
    const bool compression = shown == CompressionStep && engine_.useCompressionTicked();
    const InfoStatistic statistic =
        StatisticAt(shown, engine_.counters(), compression, engine_.statusWindow().t);
    ui->Label2->setText(statistic.name);
    ui->Label3->setText(statistic.value);
}

void datafrm::applySlide()
{
    // A window cannot be 0 pixels wide; at 0 twips it is hidden, or about to be.
    const int pixels = qMax(1, TwipsToPixels(slide_.width));
    resize(pixels, height());
    // The picture and its labels stay anchored to the right edge while the panel grows.
    const int left = pixels - ui->Back->width();
    const int shift = left - ui->Back->x();
    for (QWidget* control : {static_cast<QWidget*>(ui->Back), static_cast<QWidget*>(ui->Label2),
                             static_cast<QWidget*>(ui->Label3)}) {
        control->move(control->x() + shift, control->y());
    }
    if (slide_.visible != isVisible())
        setVisible(slide_.visible);
    runTimer(Timer1, slide_.opening);
    runTimer(Timer2, slide_.closing);
}

} // namespace tellaran
