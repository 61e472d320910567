#include "engine/link/modemlink.h"

#include "engine/engine.h"
#include "engine/link/frames.h"
#include "engine/link/modemresult.h"
#include "engine/settings/settingsfile.h"
#include "platform/datafile.h"
#include "platform/logging.h"
#include "platform/troubleshootinglog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

namespace tellaran {

namespace {

constexpr int DefaultReconnectDelay = 500;
// The other engine sends a frame in pieces a tenth of a second apart; a frame silent this
// long after a "NO CARRIER" line has ended with the call.
constexpr int DefaultStalledFrameDelay = 3000;

const QString NoCarrierText = QStringLiteral(
    "There is no carrier.  Please make sure that all your phone cables are properly connected");
const QString BusyText = QStringLiteral("The number is busy.  Please try again later.");
const QString NoDialToneText =
    QStringLiteral("There is no dialtone.  Please check your modem connections.");
const QString NoAnswerText =
    QStringLiteral("There was no answer from the remote modem / Tellaran is not running at the "
                   "other end. Please try again later.");

int numericSetting(const QByteArray& text)
{
    return int(datafile::numericValue(text));
}

// Which channel a link frame from the other computer is for, and how much it carries; its
// payload stays out of the log.
void logReceivedFrame(const QByteArray& line)
{
    if (!lcLink().isDebugEnabled())
        return;
    const frames::RelayedFrame frame = frames::parseRelayedFrame(line);
    switch (frame.kind) {
    case frames::RelayedFrame::Payload:
        qCDebug(lcLink).noquote() << "frame from the modem: DataID"
                                  << troubleshooting::printable(frame.dataId) << "with"
                                  << frame.content.size() << "bytes";
        return;
    case frames::RelayedFrame::Message:
        qCDebug(lcLink).noquote() << "frame from the modem: user message of" << frame.content.size()
                                  << "bytes";
        return;
    case frames::RelayedFrame::Damaged:
    case frames::RelayedFrame::Outgoing:
        qCDebug(lcLink).noquote() << "frame from the modem too short to carry a DataID:"
                                  << line.size() << "bytes";
        return;
    }
}

} // namespace

ModemLink::ModemLink(Engine& engine, SerialEnvironment environment, QObject* parent)
    : QObject(parent), MSComm1(std::move(environment)), engine_(engine),
      UseString([this](QByteArray line) { lines_.push_back(std::move(line)); }),
      relayCap_(frames::DefaultBufferCap)
{
    connect(&MSComm1, &SerialPort::OnComm, this, &ModemLink::OnComm);
    connect(&Winsock1, &Socket::ConnectEvent, this, &ModemLink::onWinsockConnected);
    connect(&Winsock1, &Socket::CloseEvent, this, &ModemLink::onWinsockDown);
    connect(&Winsock1, &Socket::ErrorEvent, this, &ModemLink::onWinsockDown);
    // Nothing ever arrives for the engine's own client; drop whatever does.
    connect(&Winsock1, &Socket::DataArrivalEvent, this, [this] { Winsock1.GetData(); });
    reconnectTimer_.setSingleShot(true);
    reconnectTimer_.setInterval(DefaultReconnectDelay);
    connect(&reconnectTimer_, &QTimer::timeout, this, &ModemLink::connectWinsock);
    dropReportTimer_.setSingleShot(true);
    dropReportTimer_.setInterval(1000);
    connect(&dropReportTimer_, &QTimer::timeout, this, &ModemLink::reportDroppedFrames);
    stalledFrameTimer_.setSingleShot(true);
    stalledFrameTimer_.setInterval(DefaultStalledFrameDelay);
    connect(&stalledFrameTimer_, &QTimer::timeout, this, [this] {
        if (Connected && !shutDown_ && EndsWithNoCarrier(UseString.pending()))
            carrierLost();
    });
}

ModemLink::~ModemLink()
{
    shutDown();
}

void ModemLink::Load()
{
    if (Winsock1.State() != Socket::Connected && Winsock1.State() != Socket::Connecting)
        connectWinsock();
    Connected = false;
    const SettingsRecord settings = SettingsFile(engine_.programDir()).LoadSettings();
    configurePort(settings);
    sendInitialisationCommands(settings);
}

void ModemLink::configurePort(const SettingsRecord& settings)
{
    MSComm1.setCommPort(numericSetting(settings.portNumber));
    MSComm1.setDTREnable(true);
    MSComm1.setHandshaking(2);
    MSComm1.setInBufferSize(numericSetting(settings.inBufferSize));
    MSComm1.setInputLen(0);
    MSComm1.setInputMode(1);
    MSComm1.setNullDiscard(false);
    MSComm1.setOutBufferSize(numericSetting(settings.outBufferSize));
    MSComm1.setParityReplace(settings.parityReplace);
    MSComm1.setRThreshold(1);
    MSComm1.setRTSEnable(true);
    MSComm1.setSettings(QString::fromLatin1(settings.portSettings));
    MSComm1.setSThreshold(1);
}

void ModemLink::sendInitialisationCommands(const SettingsRecord& settings)
{
    sendCommand("ATX4");
    if (settings.useCompression)
        sendCommand("AT%C3");
    sendCommand("AT+MS=56,1");
    QByteArray volume = QByteArray::number(settings.speakerVolume);
    if (settings.speakerVolume >= 0)
        volume.prepend(' ');
    sendCommand("ATL" + volume);
    if (settings.speakerUntilConnect)
        sendCommand("ATM1");
    if (settings.speakerAlwaysOn)
        sendCommand("ATM2");
    if (settings.pulseDial)
        sendCommand("ATP");
    else if (settings.toneDial)
        sendCommand("ATT");
}

// Each command opens the port, writes and closes it again; the port lets the bytes drain
// before it closes, so none is lost. A port that cannot be opened loses the command: the
// answer and dial windows report that port when they open it.
void ModemLink::sendCommand(const QByteArray& command)
{
    logModemCommand(command);
    MSComm1.setPortOpen(true);
    MSComm1.Output(command + "\r\n");
    MSComm1.setPortOpen(false);
}

void ModemLink::OnComm()
{
    switch (MSComm1.CommEvent()) {
    case SerialPort::comEventRxOver:
        engine_.messageBoxes().show(QStringLiteral("Some Data was lost during transfer."),
                                    QString(), BoxIcon::None, BoxButtons::Ok);
        break;
    case SerialPort::comEventRxParity:
        engine_.messageBoxes().show(QStringLiteral("Parity Error !"), QString(), BoxIcon::None,
                                    BoxButtons::Ok);
        break;
    case SerialPort::comEvCD:
        if (MSComm1.CDHolding())
            carrierUp();
        else
            carrierLost();
        break;
    case SerialPort::comEvReceive:
        receive();
        break;
    case SerialPort::comEvSend: {
        QPointer<ModemLink> alive(this);
        while (alive && !shutDown_ && MSComm1.PortOpen() && MSComm1.OutBufferCount() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        break;
    }
    default:
        break;
    }
}

void ModemLink::receive()
{
    Q_EMIT receiveStarted();
    const QByteArray block = MSComm1.Input();
    engine_.counters().bytesreceived += block.size();
    engine_.trafficCountersChanged();
    engine_.countReceivedForSpeed(block.size());
    UseString.SplitModemInput(block, Connected);
    QPointer<ModemLink> alive(this);
    handleQueuedLines();
    if (!alive)
        return;
    watchForHangUp();
    if (alive)
        Q_EMIT receiveFinished();
}

// With carrier detect held on, or not wired, the modem's "NO CARRIER" is the only sign that
// the other side has hung up. In connected mode it is never cut as a line; it waits in the
// carry-over buffer.
void ModemLink::watchForHangUp()
{
    stalledFrameTimer_.stop();
    if (!Connected || carrierLostHandled_ || shutDown_)
        return;
    if (NoCarrierBeforeFrames(UseString.pending())) {
        carrierLost();
        return;
    }
    // The same line ending a frame may still be the frame's payload: only when nothing more
    // comes is it the modem's.
    if (EndsWithNoCarrier(UseString.pending()))
        stalledFrameTimer_.start();
}

// Lines are handled in the order they came; a line handled inside a box that an earlier
// line opened would overtake it, so a nested call leaves the queue to the outer one.
void ModemLink::handleQueuedLines()
{
    if (handlingLines_)
        return;
    handlingLines_ = true;
    QPointer<ModemLink> alive(this);
    while (alive && !shutDown_ && !lines_.empty()) {
        QByteArray line = std::move(lines_.front());
        lines_.pop_front();
        HandleModemLine(line);
    }
    if (alive)
        handlingLines_ = false;
}

void ModemLink::HandleModemLine(QByteArray& line)
{
    // Once the call is up, every line is cut at "<xodem>": one without "<modem>" is a frame
    // that noise hit at its start.
    if (line.contains(frames::ModemTag) || (Connected && line.endsWith(frames::XodemTag))) {
        // A payload is the other program's data, never a modem result: "RING" inside it
        // must not make the modem answer, nor "NO CARRIER" show a failure.
        relayCheckedFrame(line);
        return;
    }

    const ModemLineResult result = ClassifyModemLine(line);
    // Once the call is up a line may be the other computer's data: only its size is logged,
    // and a result's word.
    if (!Connected)
        logModemLine(line);
    else if (result.code != ModemResultCode::NotAResult)
        qCDebug(lcModem).noquote() << "from the modem:" << QString::fromLatin1(result.word);
    else
        qCDebug(lcModem) << "from the modem:" << line.size() << "bytes outside a frame";
    // Once the call has ended, what the modem says about it is no news.
    if (result.code == ModemResultCode::NotAResult || carrierLostHandled_)
        return;
    line.clear();
    const QString failureText = QStringLiteral("The modem reported %1. The call was not made.")
                                    .arg(QString::fromLatin1(result.word));
    switch (result.code) {
    case ModemResultCode::NotAResult:
    case ModemResultCode::Ok:
        return;
    case ModemResultCode::Connect:
        connectOnResult();
        return;
    case ModemResultCode::Ring:
        if (engine_.isAnswerWindowVisible())
            engine_.showAnswerWindowRinging();
        logModemCommand("ATA");
        MSComm1.Output("ATA");
        return;
    case ModemResultCode::NoCarrier:
        // Once the call is up, this is the other side hanging up, whether or not carrier
        // detect follows (it may be held on, or not wired).
        if (Connected) {
            carrierLost();
            return;
        }
        if (engine_.isAnswerWindowVisible())
            engine_.showAnswerWindowFailed(QString::fromLatin1(result.word));
        callFailed(NoCarrierText);
        return;
    case ModemResultCode::Busy:
        callFailed(BusyText);
        return;
    case ModemResultCode::NoDialTone:
        callFailed(NoDialToneText);
        return;
    case ModemResultCode::NoAnswer:
        callFailed(NoAnswerText);
        return;
    case ModemResultCode::Error:
        // Otherwise the modem refused a command of the user's, and nothing waits on it.
        if (engine_.isDialingWindowVisible()) {
            callFailed(failureText);
        } else if (engine_.isAnswerWindowVisible()) {
            engine_.showAnswerWindowFailed(QString::fromLatin1(result.word));
            callFailed(failureText);
        }
        return;
    case ModemResultCode::Delayed:
    case ModemResultCode::Blacklisted:
    case ModemResultCode::Voice:
        callFailed(failureText);
        return;
    }
}

void ModemLink::connectOnResult()
{
    Connected = true;
    engine_.startCallClock();
    engine_.showStatusWindow();
    if (engine_.isDialingWindowVisible()) {
        engine_.startConnectionClockTicks();
        engine_.hideDialingWindow();
    }
    if (engine_.isAnswerWindowVisible())
        engine_.closeAnswerWindowOnConnect(false);
}

// A call that could not be made or answered: the reason in a box, and from the dialing
// window back to the dialer, the number kept.
void ModemLink::callFailed(const QString& text)
{
    if (engine_.isDialingWindowVisible())
        engine_.dialingAnswered();
    QPointer<ModemLink> alive(this);
    engine_.messageBoxes().show(text, QString(), BoxIcon::None, BoxButtons::Ok);
    if (alive && engine_.isDialingWindowVisible())
        engine_.returnToDialer();
}

void ModemLink::carrierUp()
{
    const bool answering = engine_.isAnswerWindowVisible();
    Connected = true;
    // When carrier detect comes before the "CONNECT" line, that line is never cut as a line
    // (connected mode cuts only link frames), so the clock starts here.
    if (!engine_.callClockStarted())
        engine_.startCallClock();
    engine_.showStatusWindow();
    if (engine_.isDialingWindowVisible()) {
        engine_.startConnectionClockTicks();
        engine_.hideDialingWindow();
    }
    if (answering)
        engine_.closeAnswerWindowOnConnect(true);
}

void ModemLink::carrierLost()
{
    if (carrierLostHandled_)
        return;
    carrierLostHandled_ = true;
    Connected = false;
    engine_.hideStatusWindow();
    QPointer<ModemLink> alive(this);
    engine_.messageBoxes().show(QStringLiteral("Remote computer disconnected"), QString(),
                                BoxIcon::None, BoxButtons::Ok);
    if (!alive)
        return;
    // Each step goes on whatever became of the one before.
    engine_.deleteChannelTable();
    const SettingsFile settings(engine_.programDir());
    QString error;
    if (!settings.StoreConnectionTime(engine_.dialerTimeText().toLatin1(), &error)) {
        engine_.messageBoxes().show(ConnectionTimeNotStoredText(settings.path(), error), QString(),
                                    BoxIcon::Warning, BoxButtons::Ok);
        if (!alive)
            return;
    }
    engine_.endProgram();
}

void ModemLink::relayCheckedFrame(const QByteArray& line)
{
    // A bare "<modem>" carries nothing.
    if (line.endsWith(frames::ModemTag) &&
        line.indexOf(frames::ModemTag) == line.size() - frames::ModemTag.size())
        return;
    const int droppedBefore = frameCheck_.droppedFrames();
    const std::optional<QByteArray> frame = frameCheck_.Check(line);
    if (frameCheck_.droppedFrames() != droppedBefore) {
        lastDroppedSize_ = frame ? line.size() - frame->size() : line.size();
        // On a line that noise hits often, one line a second tells it all.
        if (!dropReportTimer_.isActive()) {
            reportDroppedFrames();
            dropReportTimer_.start();
        }
    }
    if (!frame)
        return;
    logReceivedFrame(*frame);
    sendRelayFrame(*frame);
}

void ModemLink::reportDroppedFrames()
{
    const int dropped = frameCheck_.droppedFrames();
    if (dropped == droppedReported_)
        return;
    const int since = dropped - droppedReported_;
    droppedReported_ = dropped;
    const QString what =
        since == 1 ? QStringLiteral("Dropped a damaged frame from the modem (%1 bytes)")
                         .arg(lastDroppedSize_)
                   : QStringLiteral("Dropped %1 damaged frames from the modem").arg(since);
    qCWarning(lcLink).noquote() << what + QStringLiteral(": the check value does not match; %1 "
                                                         "damaged frames dropped in this call")
                                              .arg(dropped);
}

void ModemLink::sendRelayFrame(const QByteArray& modemLine)
{
    const QByteArray frame = frames::relayFrame(modemLine);
    if (Winsock1.State() == Socket::Connected && pendingRelay_.isEmpty()) {
        Winsock1.SendData(frame);
        return;
    }
    // Until Winsock1 is up the frames wait, within the cap; past it the new frame is lost
    // rather than the memory.
    if (pendingRelay_.size() + frame.size() <= relayCap_)
        pendingRelay_ += frame;
    if (Winsock1.State() == Socket::Closed && !reconnectTimer_.isActive())
        connectWinsock();
}

void ModemLink::connectWinsock()
{
    if (shutDown_)
        return;
    if (Winsock1.State() != Socket::Closed)
        Winsock1.Close();
    Winsock1.Connect(QStringLiteral("127.0.0.1"), engine_.channelPort());
}

void ModemLink::onWinsockConnected()
{
    if (pendingRelay_.isEmpty())
        return;
    QByteArray waiting;
    waiting.swap(pendingRelay_);
    Winsock1.SendData(waiting);
}

// The channel server closed the connection, or it could not be made: try again shortly.
void ModemLink::onWinsockDown()
{
    if (shutDown_)
        return;
    Winsock1.Close();
    reconnectTimer_.start();
}

void ModemLink::shutDown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    reconnectTimer_.stop();
    stalledFrameTimer_.stop();
    dropReportTimer_.stop();
    reportDroppedFrames();
    MSComm1.setPortOpen(false);
    Winsock1.Close();
}

} // namespace tellaran
