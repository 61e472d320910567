#include "engine/channels/framedispatcher.h"

#include "engine/channels/channelconnections.h"
#include "engine/channels/channeltable.h"
#include "engine/channels/transmitqueue.h"
#include "engine/engine.h"
#include "engine/link/frames.h"
#include "platform/logging.h"
#include "platform/troubleshootinglog.h"

#include <algorithm>

namespace tellaran {

namespace {

// A local frame on its way to the modem: its channel and size, never its payload. The
// frame is "<" DataID ">" payload "<" DataID ">", or a user message between two "<msgbox>".
void logSentFrame(const QByteArray& frame)
{
    if (!lcLink().isDebugEnabled())
        return;
    if (frame.startsWith(frames::MsgboxTag)) {
        const qsizetype text = frame.size() - 2 * frames::MsgboxTag.size();
        qCDebug(lcLink).noquote() << "frame to the modem: user message of"
                                  << std::max<qsizetype>(0, text) << "bytes";
        return;
    }
    const qsizetype payload = frame.size() - 2 * (frames::DataIdLength + 2);
    qCDebug(lcLink).noquote() << "frame to the modem: DataID"
                              << troubleshooting::printable(frame.mid(1, frames::DataIdLength))
                              << "with" << std::max<qsizetype>(0, payload) << "bytes";
}

} // namespace

FrameDispatcher::FrameDispatcher(Engine& engine, ChannelTable& table,
                                 ChannelConnections& connections, TransmitQueue& senddata)
    : engine_(engine), table_(table), connections_(connections), senddata_(senddata)
{
    Timerunk.setInterval(TimerunkInterval);
    QObject::connect(&Timerunk, &QTimer::timeout, &Timerunk, [this] { Timerunk_Timer(); });
    Timerunk.start();
}

void FrameDispatcher::DispatchFrame(const QByteArray& frame, int connection)
{
    if (frame.isEmpty())
        return;
    const frames::RelayedFrame relayed = frames::parseRelayedFrame(frame);
    switch (relayed.kind) {
    case frames::RelayedFrame::Message:
        engine_.showUserMessage(relayed.content);
        return;
    case frames::RelayedFrame::Payload:
        deliverPayload(frame, relayed.dataId, relayed.content);
        return;
    case frames::RelayedFrame::Damaged:
        // Too short to take apart: nothing in it can be delivered.
        return;
    case frames::RelayedFrame::Outgoing:
        logSentFrame(frame);
        if (!senddata_.enqueue(connection, frames::linkFrame(frame)))
            reportDroppedFrame(frame.size());
        return;
    }
}

void FrameDispatcher::deliverPayload(const QByteArray& frame, const QByteArray& dataId,
                                     const QByteArray& payload)
{
    const std::optional<int> index =
        table_.LookUp(dataId, [this](int element) { return connections_.isConnected(element); });
    if (!index) {
        hold(frame);
        return;
    }
    connections_.SendData(*index, payload);
    for (QByteArray& slot : pendingframes_) {
        if (slot == frame) {
            slot.clear();
            break;
        }
    }
}

void FrameDispatcher::hold(const QByteArray& frame)
{
    for (const QByteArray& slot : pendingframes_) {
        if (slot == frame)
            return;
    }
    for (QByteArray& slot : pendingframes_) {
        if (slot.isEmpty()) {
            slot = frame;
            return;
        }
    }
    // All slots taken: the frame is lost.
}

// Flow control keeps local programs below the cap; reaching it means something went wrong,
// and the user hears of it once a run.
void FrameDispatcher::reportDroppedFrame(qsizetype size)
{
    qCWarning(lcChannels) << "The modem transmit queue is full: a frame of" << size
                          << "bytes was dropped," << senddata_.droppedFrames() << "in all";
    if (dropReported_)
        return;
    dropReported_ = true;
    Engine* engine = &engine_;
    QTimer::singleShot(0, &Timerunk, [engine] {
        engine->messageBoxes().show(
            QStringLiteral("The queue of data waiting for the modem is full. Data from a local "
                           "program could not be sent and was lost."),
            QString(), BoxIcon::Warning, BoxButtons::Ok);
    });
}

void FrameDispatcher::Timerunk_Timer()
{
    for (int i = 0; i < PendingSlots; ++i) {
        // A copy: dispatching may empty the slot.
        const QByteArray held = pendingframes_[i];
        if (!held.isEmpty())
            DispatchFrame(held);
    }
}

} // namespace tellaran
