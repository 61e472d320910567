#include "engine/calls/form4.h"

#include "engine/calls/callcommands.h"
#include "engine/calls/callsresources.h"
#include "engine/engine.h"
#include "engine/link/modemstartup.h"
#include "engine/windows/imageclick.h"
#include "engine/windows/look.h"
#include "engine/windows/twips.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "platform/logging.h"
#include "platform/serialport.h"
#include "ui_form4.h"

#include <QCloseEvent>

namespace tellaran {

namespace {

constexpr int Timer2Interval = MarqueeTickMs;

QString connectingText()
{
    return QStringLiteral("Connecting...");
}

} // namespace

Form4::Form4(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Form4>()),
      engine_(engine)
{
    InitCallsResources();
    ui->setupUi(this);
    ApplyLook(this);
    OnEscape(this, [this] { engine_.endProgram(); });
    DragWindowOnPress(ui->Label2);
    DragWindowOnPress(ui->Image3);
    OnImageClick(ui->Image2, [this] { engine_.endProgram(); });

    // The halves start side by side at their design places (MarqueeStrip's defaults).
    PlaceStrip();

    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(Timer2Interval);
    connect(&Timer2, &QTimer::timeout, this, &Form4::MarqueeStep);
    Timer2.start();
}

Form4::~Form4() = default;

void Form4::WaitForCall()
{
    // Loads the status window, hidden: local programs can register before any call.
    engine_.statusWindow();
    ui->Image1->setPixmap(ui->Image4->pixmap());
    KeepOnTop(QStringLiteral("Enabled"), this);

    // Reaching the port may run the modem's start-up, which waits for the modem's replies
    // (seconds, with a slow modem or none); the program may end meanwhile.
    if (!engine_.isModemWindowLoaded())
        SetLog(QStringLiteral("Setting up the modem..."));
    SerialPort& port = engine_.modemPort();
    if (ending_)
        return;
    QString failure;
    if (!OpenModemPort(port, &failure)) {
        // Nothing to wait for: say so here and in a box, and send nothing.
        SetLog(QStringLiteral("Port could not be opened..."));
        AppendToLog(engine_.modemPort().LastError());
        ui->Label1->setText(QStringLiteral("Port Not Open"));
        Timer2.stop();
        engine_.messageBoxes().show(failure, QString(), BoxIcon::Critical, BoxButtons::Ok);
        return;
    }
    SetLog(QStringLiteral("Port Open..."));
    // Commands a modem does not know are harmless; the user sees which.
    for (const QByteArray& command : engine_.modemStartUpRefusals())
        AppendToLog(StartUpRefusalText(command));
    ui->Label1->setText(QStringLiteral("Port Open"));
    port.setDTREnable(true);
    engine_.writeCallCommand(AnswerCommand());
    AppendToLog(QStringLiteral("Waiting For Connection..."));
    ui->Label1->setText(QStringLiteral("Waiting For Connection"));
}

void Form4::MarqueeStep()
{
    tellaran::MarqueeStep(strip_);
    PlaceStrip();
}

void Form4::PlaceStrip()
{
    ui->Image6->move(TwipsToPixels(strip_.image6Left), 0);
    ui->Image7->move(TwipsToPixels(strip_.image7Left), 0);
}

void Form4::ShowRinging()
{
    ui->Image1->setPixmap(ui->Image5->pixmap());
    if (ui->Label1->text() != connectingText()) {
        ui->Label1->setText(connectingText());
        AppendToLog(connectingText());
    }
}

void Form4::ShowAnswerFailed(const QString& failure)
{
    ui->Image1->setPixmap(ui->Image4->pixmap());
    AppendToLog(QStringLiteral("Answer failed: %1").arg(failure));
    AppendToLog(QStringLiteral("Waiting For Connection..."));
    ui->Label1->setText(QStringLiteral("Waiting For Connection"));
}

void Form4::CloseOnConnect(bool logConnected)
{
    if (logConnected) {
        AppendToLog(QStringLiteral("Connected"));
        ui->Label1->setText(QStringLiteral("Connected"));
    }
    Timer2.stop();
    hide();
}

void Form4::shutDown()
{
    ending_ = true;
    Timer2.stop();
    hide();
}

void Form4::SetLog(const QString& text)
{
    log_ = text;
    ui->Text1->setPlainText(log_);
}

void Form4::AppendToLog(const QString& line)
{
    SetLog(log_ + QStringLiteral("\r\n") + line);
}

void Form4::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (!ending_)
        engine_.endProgram();
}

} // namespace tellaran
