#include "engine/link/modemlink.h"

#include "engine/engine.h"
#include "engine/link/frames.h"
#include "engine/link/modemresult.h"
#include "engine/link/modemstartup.h"
#include "engine/settings/settingsfile.h"
#include "platform/datafile.h"
#include "platform/logging.h"
#include "platform/troubleshootinglog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <algorithm>

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
    closeDown();
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

// The port is opened once for all the commands, and each waits for the reply to the one
// before: a reply that came later would be taken for the answer to the next command, or for
// a call's result. A command the modem refuses or leaves unanswered is noted, and the start
// goes on. A port that cannot be opened is reported by the answer and dial windows.
void ModemLink::sendInitialisationCommands(const SettingsRecord& settings)
{
    startUpRefusals_.clear();
    MSComm1.setPortOpen(true);
    if (!MSComm1.PortOpen()) {
        qCDebug(lcModem).noquote() << "start-up: the port cannot be opened:" << MSComm1.LastError();
        return;
    }
    const QPointer<ModemLink> alive(this);
    startingUp_ = true;
    for (const QByteArray& command : ModemStartUpCommands(settings)) {
        if (shutDown_ || !MSComm1.PortOpen())
            break;
        writeCommand(command);
        const std::optional<ModemResultCode> reply = awaitReply(replyTimeoutMs_);
        if (!alive)
            return;
        if (reply == ModemResultCode::Ok)
            continue;
        startUpRefusals_.append(command);
        qCDebug(lcModem).noquote()
            << "start-up: the modem did not accept" << QString::fromLatin1(command) << "-"
            << (reply ? QStringLiteral("it replied ERROR")
                      : QStringLiteral("no reply within %1 ms").arg(replyTimeoutMs_));
    }
    startingUp_ = false;
    if (!shutDown_)
        MSComm1.setPortOpen(false);
}

void ModemLink::writeCommand(const QByteArray& command, bool lineEnd, bool echoed)
{
    reply_.reset();
    replies_.commandWritten(command, echoed);
    logModemCommand(command);
    MSComm1.Output(lineEnd ? command + "\r\n" : command);
}

std::optional<ModemResultCode> ModemLink::awaitReply(int milliseconds)
{
    if (!reply_)
        waitUntil(milliseconds, [this] { return reply_.has_value() || !MSComm1.PortOpen(); });
    return reply_;
}

// Every event that could settle `done` (a line from the modem, a change of carrier detect)
// wakes the wait, and so does the deadline: nothing polls.
bool ModemLink::waitUntil(int milliseconds, const std::function<bool()>& done)
{
    const QPointer<ModemLink> alive(this);
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(std::max(0, milliseconds));
    while (alive && !done() && deadline.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return alive && done();
}

void ModemLink::writeCallCommand(const QByteArray& command)
{
    MSComm1.setInBufferCount(0);
    UseString.clear();
    lines_.clear();
    mayBeOnline_ = true;
    QByteArray bare = command;
    while (bare.endsWith('\n') || bare.endsWith('\r'))
        bare.chop(1);
    replies_.commandWritten(bare);
    logModemCommand(command);
    MSComm1.Output(command);
}

void ModemLink::OnComm()
{
    // While the start-up or the hang-up talks to the modem, what it says is theirs.
    const bool dialogue = startingUp_ || hangingUp_;
    switch (MSComm1.CommEvent()) {
    case SerialPort::comEventRxOver:
        if (!dialogue)
            showLineErrorLater(QStringLiteral("Some Data was lost during transfer."));
        break;
    case SerialPort::comEventRxParity:
        if (!dialogue)
            showLineErrorLater(QStringLiteral("Parity Error !"));
        break;
    case SerialPort::comEvCD:
        if (MSComm1.CDHolding())
            carrierSeenOn_ = true;
        if (dialogue)
            break;
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
// line opened would overtake it, so a nested call leaves the queue to the outer one. Not so
// while the start-up or the hang-up waits for the modem (the way out after a carrier loss
// runs inside the line that told it): every line is then theirs, and their reply cannot wait.
void ModemLink::handleQueuedLines()
{
    if (handlingLines_ && !startingUp_ && !hangingUp_)
        return;
    const bool outermost = !handlingLines_;
    handlingLines_ = true;
    QPointer<ModemLink> alive(this);
    while (alive && !shutDown_ && !lines_.empty()) {
        QByteArray line = std::move(lines_.front());
        lines_.pop_front();
        HandleModemLine(line);
    }
    if (alive && outermost)
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
    const ModemReplyTracker::Verdict verdict =
        Connected ? ModemReplyTracker::Verdict::NotAReply : replies_.lineArrived(line);
    if (verdict == ModemReplyTracker::Verdict::Reply)
        reply_ = result.code;
    else if (verdict == ModemReplyTracker::Verdict::Late)
        qCDebug(lcModem) << "a late reply to an earlier command: no result of anything now";
    if (startingUp_ || hangingUp_) {
        if (result.code != ModemResultCode::NotAResult)
            line.clear();
        return;
    }
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
        // Typed with no line end, so it has no echo line of its own to wait for.
        mayBeOnline_ = true;
        writeCommand("ATA", false, false);
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
        // Only the reply to the call's own command is its result; any other ERROR answers
        // an earlier command (a late start-up reply), or one of the user's.
        if (verdict != ModemReplyTracker::Verdict::Reply)
            return;
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

void ModemLink::callCameUp()
{
    mayBeOnline_ = true;
    callWasUp_ = true;
    ++callsUp_;
    engine_.messageBoxes().closeBoxes(this);
}

void ModemLink::connectOnResult()
{
    callCameUp();
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
// window back to the dialer, the number kept. The box opens from the event loop once the
// lines in hand are handled, so that the modem is heard while it is open; a call that comes
// up after all closes it.
void ModemLink::callFailed(const QString& text)
{
    mayBeOnline_ = false;
    if (engine_.isDialingWindowVisible())
        engine_.dialingAnswered();
    QTimer::singleShot(0, this,
                       [this, text, callsUp = callsUp_] { showCallFailure(text, callsUp); });
}

void ModemLink::showCallFailure(const QString& text, quint64 callsUp)
{
    if (shutDown_ || callsUp != callsUp_)
        return;
    QPointer<ModemLink> alive(this);
    engine_.messageBoxes().showClosable(text, QString(), BoxIcon::None, BoxButtons::Ok, this);
    if (alive && !shutDown_ && callsUp == callsUp_ && engine_.isDialingWindowVisible())
        engine_.returnToDialer();
}

// From the event loop too, and one of each at a time: a burst of line errors would otherwise
// stack boxes, each holding up the port's handler that raised it.
void ModemLink::showLineErrorLater(const QString& text)
{
    if (lineErrorBoxes_.contains(text))
        return;
    lineErrorBoxes_.append(text);
    QTimer::singleShot(0, this, [this, text] {
        QPointer<ModemLink> alive(this);
        if (!shutDown_)
            engine_.messageBoxes().show(text, QString(), BoxIcon::None, BoxButtons::Ok);
        if (alive)
            lineErrorBoxes_.removeOne(text);
    });
}

void ModemLink::carrierUp()
{
    const bool answering = engine_.isAnswerWindowVisible();
    callCameUp();
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
    // The modem is back in command state: it said so, or carrier detect did.
    mayBeOnline_ = false;
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
    const QPointer<ModemLink> alive(this);
    HangUp();
    if (alive)
        closeDown();
}

// Without the hang-up's waits: what is left when the link itself goes.
void ModemLink::closeDown()
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
