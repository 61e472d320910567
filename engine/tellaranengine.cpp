#include "engine/tellaranengine.h"

#include "engine/calls/callcontrol.h"
#include "engine/channels/form2.h"
#include "engine/launcher/launcher.h"
#include "engine/link/form1.h"
#include "engine/qtmessageboxes.h"
#include "engine/settings/form7.h"
#include "engine/settings/settingsfile.h"
#include "engine/windows/datafrm.h"
#include "engine/windows/form10.h"
#include "engine/windows/form8.h"
#include "engine/windows/form9.h"
#include "engine/windows/frmsplash.h"
#include "engine/windows/messagewindows.h"
#include "engine/windows/twips.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QTimer>

namespace tellaran {

TellaranEngine::TellaranEngine(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), timeKeeper_(options_.programDir)
{
    if (!options_.messageBoxes)
        options_.messageBoxes = std::make_shared<QtMessageBoxes>();
    if (options_.serial.portMapFile.isEmpty())
        options_.serial.portMapFile = dataPath(QStringLiteral("ports.dat"));
    calls_ = std::make_unique<CallControl>(*this);
    launcher_ = std::make_unique<Launcher>(*this);
    messageWindows_ = std::make_unique<MessageWindows>([this] { showSendMessageWindow(); });
}

void TellaranEngine::start()
{
    auto* splash = new frmSplash(*this);
    splash_ = splash;
    splash->show();
}

frmSplash* TellaranEngine::splashScreen() const
{
    return static_cast<frmSplash*>(splash_.data());
}

TellaranEngine::~TellaranEngine()
{
    // Nothing may bring out a window while the rest closes.
    destroying_ = true;
    delete splash_.data();
    delete aboutBox_.data();
    messageWindows_.reset();
    sendWindow_.reset();
    infoBox_.reset();
    // The modem window talks to the status window while it closes; it goes first.
    calls_.reset();
    launcher_.reset();
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
    launcher_->shutDown();
    if (splash_)
        splashScreen()->shutDown();
    if (aboutBox_)
        aboutBox()->shutDown();
    messageWindows_->shutDown();
    if (sendWindow_)
        sendWindow_->shutDown();
    if (infoBox_)
        infoBox_->shutDown();
    // The status window goes before the modem hangs up, which may take a few seconds.
    if (form2_)
        form2_->hide();
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

bool TellaranEngine::isOwnRelayConnection(const QHostAddress& peer, quint16 peerPort) const
{
    if (!form1_)
        return false;
    const Socket& own = form1_->link().Winsock1;
    return own.State() == Socket::Connected && own.LocalPort() == peerPort &&
           own.LocalAddress().isEqual(peer, QHostAddress::TolerantConversion);
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
        form1_->Load();
    }
    return *form1_;
}

void TellaranEngine::writeCallCommand(const QByteArray& command)
{
    form1().link().writeCallCommand(command);
}

QByteArrayList TellaranEngine::modemStartUpRefusals() const
{
    return form1_ ? form1_->link().startUpRefusals() : QByteArrayList();
}

void TellaranEngine::hangUpModem()
{
    if (form1_)
        form1_->link().HangUp();
}

Form2& TellaranEngine::statusWindow()
{
    if (!form2_)
        form2_ = std::make_unique<Form2>(*this);
    return *form2_;
}

void TellaranEngine::showStatusWindow()
{
    statusWindow().show();
}

void TellaranEngine::hideStatusWindow()
{
    statusWindow().hide();
}

void TellaranEngine::startCallClock()
{
    statusWindow().StartCallClock();
}

bool TellaranEngine::callClockStarted()
{
    return statusWindow().t1.isValid();
}

void TellaranEngine::startConnectionClockTicks()
{
    statusWindow().Timer1.start();
}

void TellaranEngine::countReceivedForSpeed(qint64 characters)
{
    statusWindow().totaldata += characters;
}

void TellaranEngine::deleteChannelTable()
{
    statusWindow().channelTable().Delete();
}

void TellaranEngine::setStatusView(StatusView view)
{
    statusWindow().ShowView(view);
}

void TellaranEngine::setInflowShown(bool shown)
{
    if (shown)
        statusWindow().ShowInflow();
    else
        statusWindow().HideInflow();
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
    if (ended_ || destroying_)
        return;
    messageWindows_->Show(text);
    Q_EMIT userMessageReceived(text);
}

QList<Form9*> TellaranEngine::messageWindows() const
{
    return messageWindows_->windows();
}

QByteArrayList TellaranEngine::openMessages() const
{
    QByteArrayList messages;
    for (const Form9* window : messageWindows_->windows())
        messages.append(window->message);
    return messages;
}

qint64 TellaranEngine::droppedMessages() const
{
    return messageWindows_->dropped();
}

void TellaranEngine::trafficCountersChanged()
{
    // The first change of a run brings the panel out, whether or not the user asked for it.
    if (!infoBox_ && !ended_ && !destroying_)
        infoBox();
}

bool TellaranEngine::useCompressionTicked()
{
    if (form7_) {
        if (const auto* box = form7_->findChild<QCheckBox*>(QStringLiteral("Check4")))
            return box->isChecked();
    }
    return SettingsFile(programDir()).LoadSettings().useCompression;
}

datafrm& TellaranEngine::infoBox()
{
    if (!infoBox_)
        infoBox_ = std::make_unique<datafrm>(*this);
    return *infoBox_;
}

Form10& TellaranEngine::sendWindow()
{
    if (!sendWindow_)
        sendWindow_ = std::make_unique<Form10>(*this);
    return *sendWindow_;
}

Form8* TellaranEngine::aboutBox() const
{
    return static_cast<Form8*>(aboutBox_.data());
}

bool TellaranEngine::isAnswerWindowVisible() const
{
    return calls_->isAnswerWindowVisible();
}
void TellaranEngine::showAnswerWindowRinging()
{
    calls_->showAnswerWindowRinging();
}
void TellaranEngine::showAnswerWindowFailed(const QString& failure)
{
    calls_->showAnswerWindowFailed(failure);
}
void TellaranEngine::closeAnswerWindowOnConnect(bool logConnected)
{
    calls_->closeAnswerWindowOnConnect(logConnected);
}
bool TellaranEngine::isDialingWindowVisible() const
{
    return calls_->isDialingWindowVisible();
}
void TellaranEngine::dialingAnswered()
{
    calls_->dialingAnswered();
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
    // The connection clock writes here every second of a call: the time is kept as it goes.
    if (modemConnected())
        timeKeeper_.ConnectionTimeShown(text);
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

void TellaranEngine::toggleProgramsMenu()
{
    // The menu hangs below the status window, starting under its "Run" button.
    const Form2& status = statusWindow();
    launcher_->toggleProgramsMenu(PixelsToTwips(status.x() + status.runButtonLeft()),
                                  PixelsToTwips(status.y() + status.height()));
}

void TellaranEngine::showSendMessageWindow()
{
    if (!ended_)
        sendWindow().showWindow();
}

// A closed about box is gone (it deletes itself); the next one starts its credits at the top.
void TellaranEngine::showAboutBox()
{
    if (ended_)
        return;
    if (!aboutBox_ || !aboutBox_->isVisible())
        aboutBox_ = new Form8(*this);
    aboutBox_->show();
    aboutBox_->raise();
    aboutBox_->activateWindow();
}

void TellaranEngine::toggleInfoBox()
{
    if (!ended_)
        infoBox().Toggle(statusWindow().showdata);
}

} // namespace tellaran
