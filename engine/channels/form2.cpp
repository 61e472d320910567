#include "engine/channels/form2.h"

#include "engine/channels/enginemodemoutput.h"
#include "engine/engine.h"
#include "engine/windows/imageclick.h"
#include "engine/windows/look.h"
#include "engine/windows/picturebutton.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "ui_form2.h"

#include <QMouseEvent>
#include <limits>

// Q_INIT_RESOURCE names a function of the global namespace, so it is called from here; a
// static library's resources register only when asked to.
static void initChannelsResources()
{
    Q_INIT_RESOURCE(channels);
}

namespace tellaran {

namespace {

constexpr int Timer1Interval = 300;
constexpr int SpdTimerInterval = 1000;
// Meant to run as often as the timer allows; every 15 ms is as smooth and keeps the processor
// free.
constexpr int Timer5Interval = 15;
constexpr int Timer3Interval = 60000;
constexpr int Timer2Interval = 3000;
constexpr int FlowArrowLinger = 100;

int twipsToPixels(int twips)
{
    return (twips + 7) / 15;
}

void placeAtTwipsTop(QWidget* control, int twips)
{
    control->move(control->x(), twipsToPixels(twips));
}

} // namespace

Form2::Form2(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Form2>()),
      engine_(engine), table_(engine), server_(engine, table_,
                                               [this](int index, const QByteArray& frame) {
                                                   dispatcher_.DispatchFrame(frame, index);
                                               }),
      dispatcher_(engine, table_, server_, senddata_),
      drain_(senddata_, std::make_unique<EngineModemOutput>(engine), engine.counters()),
      clock_([] { return QDateTime::currentDateTime(); })
{
    initChannelsResources();
    ui->setupUi(this);
    ApplyLook(this);
    setUpControls();
    connect(&drain_, &TransmitDrain::pieceWritten, this, [this](qint64 size) {
        totaldata += size;
        engine_.trafficCountersChanged();
    });
    // On a fast line drains and received blocks follow each other closely: each arrow stays
    // in view through the short gaps instead of flickering, and the window is not moved
    // about for every frame.
    inflowHide_.setSingleShot(true);
    inflowHide_.setInterval(FlowArrowLinger);
    connect(&inflowHide_, &QTimer::timeout, this, [this] { setInflowTop(statustops::FlowHidden); });
    outflowHide_.setSingleShot(true);
    outflowHide_.setInterval(FlowArrowLinger);
    connect(&outflowHide_, &QTimer::timeout, this,
            [this] { setOutflowTop(statustops::FlowHidden); });
    connect(&drain_, &TransmitDrain::drainStarted, this, [this] {
        outflowHide_.stop();
        if (outflowTop_ != statustops::OutflowShown)
            setOutflowTop(statustops::OutflowShown);
    });
    connect(&drain_, &TransmitDrain::drainFinished, this, [this] { outflowHide_.start(); });

    // The load.
    ShowConnectedAt();
    showdata = false;
    senddata_.clear();
    // A local program waits while its own frames for the modem are above their mark.
    senddata_.setFlowObserver(
        [this](int index, bool paused) { server_.setConnectionPaused(index, paused); });
    connect(&server_, &ChannelServer::connectionRemoved, this,
            [this](int index) { senddata_.connectionClosed(index); });
    senddata_.setAppendObserver([this] { drain_.FrameQueued(); });
    table_.Reset();
    listening_ = server_.start();
    move(0, 0);
    KeepOnTop(QStringLiteral("Enabled"), this);
    setUpTimers();
}

Form2::~Form2() = default;

void Form2::setUpControls()
{
    applyLineTops();
    applySpeedMeter();
    setInflowTop(inflowTop_);
    setOutflowTop(outflowTop_);

    // The lines lie over Image1; a press on them is a press on it.
    for (QWidget* line : {static_cast<QWidget*>(ui->Label1), static_cast<QWidget*>(ui->Label8),
                          static_cast<QWidget*>(ui->Label9)}) {
        line->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    ui->Image1->installEventFilter(this);
    ui->SpeedBar->installEventFilter(this);
    DragWindowOnPress(ui->background);
    DragWindowOnPress(ui->connectionstate);

    const std::function<void()> disconnect = [this] { engine_.disconnectCall(); };
    const std::pair<PictureButton*, std::function<void()>> clicks[] = {
        {ui->close1, disconnect},
        {ui->Button1, [this] { engine_.toggleProgramsMenu(); }},
        {ui->Button2, [this] { engine_.showSendMessageWindow(); }},
        {ui->Button3, [this] { engine_.showAboutBox(); }},
        {ui->Button4, [this] { OpenDocument(engine_.helpFile()); }},
        {ui->Button5, [this] { engine_.toggleInfoBox(); }},
        {ui->Button6, disconnect},
    };
    for (const auto& [button, action] : clicks)
        OnImageClick(button, action);
    // A click on a caption is a click on its button.
    const std::pair<QWidget*, PictureButton*> captions[] = {
        {ui->Label2, ui->Button1}, {ui->Label3, ui->Button2}, {ui->Label4, ui->Button3},
        {ui->Label5, ui->Button4}, {ui->Label6, ui->Button5}, {ui->Label7, ui->Button6}};
    for (const auto& [caption, button] : captions) {
        clickActions_.insert(caption, [button] { button->click(); });
        caption->installEventFilter(this);
    }
    OnEscape(this, disconnect);
}

void Form2::setUpTimers()
{
    const std::pair<QTimer*, int> intervals[] = {{&Timer1, Timer1Interval},
                                                 {&SpdTimer, SpdTimerInterval},
                                                 {&Timer5, Timer5Interval},
                                                 {&Timer3, Timer3Interval},
                                                 {&Timer2, Timer2Interval}};
    for (const auto& [timer, interval] : intervals)
        timer->setInterval(interval);
    connect(&Timer1, &QTimer::timeout, this, &Form2::UpdateConnectionClock);
    connect(&SpdTimer, &QTimer::timeout, this, &Form2::UpdateSpeed);
    connect(&Timer5, &QTimer::timeout, this, &Form2::DropSpeedBar);
    connect(&Timer3, &QTimer::timeout, this, &Form2::ResetSpeedPeak);
    connect(&Timer2, &QTimer::timeout, this, &Form2::SwapStatusLines);
    Timer1.start();
    SpdTimer.start();
    // Its first tick writes the 00 speed; after that it runs only while the bar falls.
    Timer5.start();
    Timer3.start();
}

int Form2::runButtonLeft() const
{
    return ui->Button1->x();
}

void Form2::shutDown()
{
    for (QTimer* timer : {&Timer1, &SpdTimer, &Timer5, &Timer3, &Timer2})
        timer->stop();
    drain_.Timer4.stop();
    dispatcher_.Timerunk.stop();
    server_.shutDown();
    listening_ = false;
}

void Form2::StartCallClock()
{
    t1 = clock_();
    ShowConnectedAt();
}

void Form2::ShowConnectedAt()
{
    ui->Label8->setText(ConnectedAtLine(t1));
}

QString Form2::connectedAtLine() const
{
    return ui->Label8->text();
}

void Form2::UpdateConnectionClock()
{
    if (!engine_.modemConnected())
        return;
    t = ElapsedSeconds(t1, clock_());
    const QString time = ConnectionTimeText(t);
    const QString line = QStringLiteral("Time connected : ") + time;
    // The dialer's field is rewritten only when the second changes.
    if (line == ui->Label9->text())
        return;
    ui->Label9->setText(line);
    engine_.setDialerTimeText(time);
}

void Form2::UpdateSpeed()
{
    meter_.UpdateSpeed(totaldata);
    applySpeedMeter();
}

void Form2::DropSpeedBar()
{
    meter_.DropSpeedBar(totaldata);
    applySpeedMeter();
}

void Form2::ResetSpeedPeak()
{
    meter_.ResetPeak();
}

void Form2::SwapStatusLines()
{
    tellaran::SwapStatusLines(lineTops_);
    applyLineTops();
}

void Form2::ShowSpeedLines()
{
    Timer2.stop();
    ShowSpeedPair(lineTops_);
    applyLineTops();
}

void Form2::ShowConnectionLines()
{
    Timer2.stop();
    ShowConnectionPair(lineTops_);
    applyLineTops();
}

void Form2::StartAutoScroll()
{
    if (!Timer2.isActive())
        Timer2.start();
}

void Form2::ShowView(StatusView view)
{
    switch (view) {
    case StatusView::SpeedLines:
        ShowSpeedLines();
        return;
    case StatusView::ConnectionLines:
        ShowConnectionLines();
        return;
    case StatusView::AutoScroll:
        StartAutoScroll();
        return;
    }
}

void Form2::ShowInflow()
{
    inflowHide_.stop();
    if (inflowTop_ != statustops::InflowShown)
        setInflowTop(statustops::InflowShown);
}

void Form2::HideInflow()
{
    inflowHide_.start();
}

void Form2::applySpeedMeter()
{
    constexpr qint64 largest = std::numeric_limits<int>::max();
    const int maximum = int(qMin(meter_.maximum(), largest));
    const int value = int(qMin<qint64>(meter_.value(), maximum));
    // A progress bar drops a value outside its range; change the bound that makes room
    // first.
    if (value > ui->SpeedBar->maximum()) {
        ui->SpeedBar->setMaximum(maximum);
        ui->SpeedBar->setValue(value);
    } else {
        ui->SpeedBar->setValue(value);
        ui->SpeedBar->setMaximum(maximum);
    }
    if (ui->Label1->text() != meter_.line())
        ui->Label1->setText(meter_.line());
    if (!meter_.isDropping())
        Timer5.stop();
    else if (!Timer5.isActive())
        Timer5.start();
}

void Form2::applyLineTops()
{
    placeAtTwipsTop(ui->SpeedBar, lineTops_.SpeedBar);
    placeAtTwipsTop(ui->Label1, lineTops_.Label1);
    placeAtTwipsTop(ui->Label8, lineTops_.Label8);
    placeAtTwipsTop(ui->Label9, lineTops_.Label9);
}

void Form2::setOutflowTop(int twips)
{
    outflowTop_ = twips;
    placeAtTwipsTop(ui->outflow, twips);
}

void Form2::setInflowTop(int twips)
{
    inflowTop_ = twips;
    placeAtTwipsTop(ui->inflow, twips);
}

bool Form2::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton &&
            (watched == ui->Image1 || watched == ui->SpeedBar)) {
            engine_.popupStatusMenu(mouse->globalPosition().toPoint());
            return true;
        }
        if (mouse->button() == Qt::LeftButton && watched == ui->Image1) {
            DragWindow(this);
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* control = static_cast<QWidget*>(watched);
        // A copy: the action may end in this window being unloaded.
        const std::function<void()> action = clickActions_.value(watched);
        if (action && mouse->button() == Qt::LeftButton &&
            control->rect().contains(mouse->position().toPoint())) {
            action();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tellaran
