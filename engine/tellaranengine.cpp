#include "engine/tellaranengine.h"

#include "engine/calls/callcontrol.h"
#include "engine/channels/form2.h"
#include "engine/link/form1.h"
#include "engine/qtmessageboxes.h"
#include "engine/settings/form7.h"
#include "engine/settings/settingsfile.h"

#include <QCoreApplication>
#include <QTimer>

namespace tellaran {

TellaranEngine::TellaranEngine(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options))
{
    if (!options_.messageBoxes)
        options_.messageBoxes = std::make_shared<QtMessageBoxes>();
    if (options_.serial.portMapFile.isEmpty())
        options_.serial.portMapFile = dataPath(QStringLiteral("ports.dat"));
    calls_ = std::make_unique<CallControl>(*this);
}

void TellaranEngine::start()
{
    calls_->startAtModeWindow();
}

TellaranEngine::~TellaranEngine()
{
    // The modem window talks to the status window while it closes; it goes first.
    calls_.reset();
    form1_.reset();
    delete form7_.data();
    form2_.reset();
}

void TellaranEngine::endProgram()
{
    if (ended_)
        return;
    ended_ = true;
    // Close the port and every socket normally, so the other side and the local programs
    // see their connections end, then leave the event loop. The windows go without their
    // own closing steps.
    calls_->shutDown();
    if (form1_) {
        form1_->link().shutDown();
        form1_->hide();
    }
    if (form7_)
        form7_->hide();
    if (form2_) {
        form2_->hide();
        form2_->shutDown();
    }
    if (options_.onEnd)
        options_.onEnd();
    else
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}

bool TellaranEngine::modemConnected() const
{
    return form1_ && form1_->Connected();
}

SerialPort& TellaranEngine::modemPort()
{
    return form1().MSComm1();
}

Form1& TellaranEngine::form1()
{
    if (!form1_) {
        statusWindow();
        form1_ = std::make_unique<Form1>(*this, options_.serial);
    }
    return *form1_;
}

Form2& TellaranEngine::statusWindow()
{
    if (!form2_)
        form2_ = std::make_unique<Form2>(*this);
    return *form2_;
}

Form7& TellaranEngine::form7()
{
    if (!form7_) {
        auto* dialog = new Form7(*this);
        // An unloaded dialog deletes itself; from then on it is no longer this engine's.
        connect(dialog, &Form7::closedAndUnloaded, this, [this, dialog] {
            if (form7_ == dialog)
                form7_.clear();
        });
        form7_ = dialog;
    }
    return static_cast<Form7&>(*form7_);
}

void TellaranEngine::showUserMessage(const QByteArray& text)
{
    receivedMessages_.append(text);
    Q_EMIT userMessageReceived(text);
}

bool TellaranEngine::isAnswerWindowVisible() const
{
    return calls_->isAnswerWindowVisible();
}
void TellaranEngine::showAnswerWindowRinging()
{
    calls_->showAnswerWindowRinging();
}
void TellaranEngine::closeAnswerWindowOnConnect(bool logConnected)
{
    calls_->closeAnswerWindowOnConnect(logConnected);
}
bool TellaranEngine::isDialingWindowVisible() const
{
    return calls_->isDialingWindowVisible();
}
void TellaranEngine::hideDialingWindow()
{
    calls_->hideDialingWindow();
}
void TellaranEngine::returnToDialer()
{
    calls_->returnToDialer();
}
QString TellaranEngine::dialerTimeText()
{
    return calls_->dialerTimeText();
}
void TellaranEngine::setDialerTimeText(const QString& text)
{
    calls_->setDialerTimeText(text);
}

void TellaranEngine::setModemConnected(bool connected)
{
    if (form1_)
        form1_->link().Connected = connected;
}

void TellaranEngine::showModeWindow()
{
    calls_->showModeWindow();
}
void TellaranEngine::hideModeWindow()
{
    calls_->hideModeWindow();
}

void TellaranEngine::showSettingsDialog()
{
    Form7& dialog = form7();
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

void TellaranEngine::disconnectCall()
{
    calls_->DisconnectCall();
}

void TellaranEngine::popupStatusMenu(const QPoint& globalPosition)
{
    form1().popupStatusMenu(globalPosition);
}

// The windows these open come with their own parts; until then the buttons do nothing.
void TellaranEngine::toggleProgramsMenu() {}
void TellaranEngine::showSendMessageWindow() {}
void TellaranEngine::showAboutBox() {}
void TellaranEngine::toggleInfoBox() {}

} // namespace tellaran
