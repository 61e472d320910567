#include "engine/calls/callcontrol.h"

#include "engine/calls/callcommands.h"
#include "engine/calls/dialer.h"
#include "engine/calls/disconnectcall.h"
#include "engine/calls/form3.h"
#include "engine/calls/form4.h"
#include "engine/calls/form5.h"
#include "engine/calls/form6.h"
#include "engine/engine.h"
#include "engine/windows/unloadwindow.h"
#include "platform/serialport.h"

namespace tellaran {

namespace {

void present(QWidget& window)
{
    window.show();
    window.raise();
    window.activateWindow();
}

// A modem gives up on its own within a minute (S7); past this it has hung.
constexpr int DefaultDialWatchdogMs = 90000;

} // namespace

CallControl::CallControl(Engine& engine, QObject* parent) : QObject(parent), engine_(engine)
{
    dialWatchdog_.setObjectName(QStringLiteral("dialWatchdog"));
    dialWatchdog_.setSingleShot(true);
    dialWatchdog_.setInterval(DefaultDialWatchdogMs);
    connect(&dialWatchdog_, &QTimer::timeout, this, &CallControl::dialingGotNoAnswer);
}

CallControl::~CallControl()
{
    delete form5_.data();
    delete form6_.data();
    delete form4_.data();
    delete dialer_.data();
    delete form3_.data();
}

// Each getter keeps the window before running its load step, so that whatever the load step
// reaches (the settings dialog hiding the mode window, say) finds it loaded.
Form3& CallControl::form3()
{
    if (!form3_) {
        form3_ = new Form3(engine_);
        connect(form3_, &Form3::callModeChosen, this, [this] {
            showDialer();
            unloadModeWindow();
        });
        connect(form3_, &Form3::answerModeChosen, this, [this] {
            // Out of reach first: the answer window's start-up may wait for the modem.
            hideModeWindow();
            showAnswerWindow();
            unloadModeWindow();
        });
        form3_->CheckDataFiles();
    }
    return *form3_;
}

Form4& CallControl::form4()
{
    if (!form4_) {
        form4_ = new Form4(engine_);
        form4_->WaitForCall();
    }
    return *form4_;
}

Dialer& CallControl::dialer()
{
    if (!dialer_) {
        dialer_ = new Dialer(engine_);
        connect(dialer_, &Dialer::placeCallRequested, this, &CallControl::PlaceCall);
        connect(dialer_, &Dialer::addEntryRequested, this, &CallControl::showAddWindow);
        dialer_->Load();
    }
    return *dialer_;
}

Form5& CallControl::form5()
{
    if (!form5_) {
        form5_ = new Form5(engine_);
        connect(form5_, &Form5::phoneEntryAdded, this, [this] { dialer().LoadPhoneBook(); });
        connect(form5_, &Form5::unloadRequested, this, &CallControl::unloadAddWindow);
    }
    return *form5_;
}

Form6& CallControl::form6()
{
    if (!form6_)
        form6_ = new Form6(engine_);
    return *form6_;
}

bool CallControl::isModeWindowVisible() const
{
    return form3_ && form3_->isVisible();
}

bool CallControl::isDialerVisible() const
{
    return dialer_ && dialer_->isVisible();
}

void CallControl::startAtModeWindow()
{
    showModeWindow();
    if (engine_.installation())
        hideModeWindow();
}

void CallControl::showModeWindow()
{
    present(form3());
}

void CallControl::hideModeWindow()
{
    if (form3_)
        form3_->hide();
}

void CallControl::unloadModeWindow()
{
    UnloadWindow(form3_);
}

void CallControl::showDialer()
{
    present(dialer());
}

// Shown before its load step runs, which reaches the modem and may wait a few seconds for
// the modem's start-up.
void CallControl::showAnswerWindow()
{
    if (form4_) {
        present(*form4_);
        return;
    }
    form4_ = new Form4(engine_);
    present(*form4_);
    form4_->WaitForCall();
}

void CallControl::showAddWindow()
{
    present(form5());
}

void CallControl::unloadAddWindow()
{
    UnloadWindow(form5_);
}

void CallControl::PlaceCall()
{
    const QByteArray number = dialer().numberText().toLatin1();
    if (number.isEmpty()) {
        // Nothing would be dialed, and the dialing window would wait for ever.
        engine_.messageBoxes().show(QStringLiteral("Please enter the number to dial."), QString(),
                                    BoxIcon::Information, BoxButtons::Ok);
        return;
    }
    dialer().hide();
    Form6& dialing = form6();
    dialing.show();
    dialing.setState(QStringLiteral("Dialing..."));

    // Reaching the port may run the modem's start-up, which waits for the modem's replies;
    // the program may end, or the dialing window close, meanwhile.
    SerialPort& port = engine_.modemPort();
    if (ending_ || !isDialingWindowVisible())
        return;
    QString failure;
    if (!OpenModemPort(port, &failure)) {
        engine_.messageBoxes().show(failure, QString(), BoxIcon::Critical, BoxButtons::Ok);
        returnToDialer();
        return;
    }
    engine_.writeCallCommand(DialCommand(number));
    dialWatchdog_.start();
}

// The modem said nothing to the dial command, not even a failure: hang up and let the user
// try again, instead of a dialing window that waits for ever. The hang-up closes the port,
// so that what the modem says to it is not taken for another failure; the next call opens
// it again.
void CallControl::dialingGotNoAnswer()
{
    if (!isDialingWindowVisible())
        return;
    QPointer<CallControl> alive(this);
    engine_.hangUpModem();
    if (!alive || ending_)
        return;
    engine_.messageBoxes().show(QStringLiteral("The modem gave no answer to the dial command."),
                                QString(), BoxIcon::None, BoxButtons::Ok);
    if (alive && isDialingWindowVisible())
        returnToDialer();
}

void CallControl::DisconnectCall()
{
    // Its boxes and its hang-up wait in the event loop, where the status window's buttons
    // could ask for it again.
    if (disconnecting_)
        return;
    QPointer<CallControl> alive(this);
    disconnecting_ = true;
    tellaran::DisconnectCall(engine_);
    if (alive)
        disconnecting_ = false;
}

bool CallControl::isAnswerWindowVisible() const
{
    return form4_ && form4_->isVisible();
}

void CallControl::showAnswerWindowRinging()
{
    if (form4_)
        form4_->ShowRinging();
}

void CallControl::showAnswerWindowFailed(const QString& failure)
{
    if (form4_)
        form4_->ShowAnswerFailed(failure);
}

void CallControl::closeAnswerWindowOnConnect(bool logConnected)
{
    if (form4_)
        form4_->CloseOnConnect(logConnected);
}

bool CallControl::isDialingWindowVisible() const
{
    return form6_ && form6_->isVisible();
}

void CallControl::hideDialingWindow()
{
    dialWatchdog_.stop();
    if (form6_)
        form6_->hide();
}

void CallControl::returnToDialer()
{
    dialWatchdog_.stop();
    UnloadWindow(form6_);
    showDialer();
}

QString CallControl::dialerTimeText()
{
    return dialer().timeText();
}

void CallControl::setDialerTimeText(const QString& text)
{
    dialer().setTimeText(text);
}

void CallControl::shutDown()
{
    ending_ = true;
    dialWatchdog_.stop();
    if (form5_)
        form5_->hide();
    if (form6_)
        form6_->shutDown();
    if (form4_)
        form4_->shutDown();
    if (dialer_)
        dialer_->shutDown();
    if (form3_)
        form3_->shutDown();
}

} // namespace tellaran
