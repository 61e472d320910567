#pragma once

#include "ferry/messages.h"

#include <QList>
#include <QPair>
#include <QString>
#include <algorithm>

namespace ferryit {

class PartRecords;

enum class Direction
{
    Outgoing,
    Incoming
};

enum class TransferState
{
    Waiting,
    Sending,
    Receiving,
    Done,
    Failed,
    Cancelled
};

inline bool isFinished(TransferState state)
{
    return state == TransferState::Done || state == TransferState::Failed ||
           state == TransferState::Cancelled;
}

// What the window shows of one transfer.
struct TransferInfo
{
    quint64 key = 0;
    Direction direction = Direction::Outgoing;
    QString name;
    // Outgoing: the file sent.
    QString sourcePath;
    // Incoming: where the file is, its part while unfinished, the file itself once done.
    QString savedPath;
    // -1 while not known yet.
    qint64 size = -1;
    // Acknowledged by the receiver (outgoing), written to the disk (incoming).
    qint64 bytesDone = 0;
    // Where this attempt started: what the receiver held already.
    qint64 resumedFrom = 0;
    // Outgoing: file bytes handed to the engine in this attempt.
    qint64 bytesSent = 0;
    TransferState state = TransferState::Waiting;
    // What it waits for, or why it failed or was cancelled.
    QString detail;
    // Incoming: why the name differs from the offered one.
    QString note;
    // Incoming: the offer waits for the user's Accept or Decline.
    bool awaitingAnswer = false;
    double bytesPerSecond = 0;
    qint64 secondsLeft = -1;
};

// A text the other side sent (a reason), as it may be shown: decoded, control characters
// blanked, at most 200 characters. It is only ever shown as plain text.
QString peerText(const QByteArray& bytes);

// What a transfer needs of the session that holds it.
class TransferHost
{
public:
    virtual ~TransferHost() = default;
    virtual void sendMessage(const Message& message) = 0;
    // The transfer's state or detail changed (`important`), or only its progress.
    virtual void transferUpdated(quint64 key, bool important) = 0;
    // The transfer reached Done, Failed or Cancelled.
    virtual void transferFinished(quint64 key) = 0;
    virtual qint64 now() const = 0;
    virtual bool linkIsUp() const = 0;
    virtual int stallTimeoutMs() const = 0;
    // Incoming transfers.
    virtual QString receiveFolder() const = 0;
    virtual qint64 freeSpace(const QString& folder) const = 0;
    virtual PartRecords& parts() = 0;
    virtual bool acceptAll() const = 0;
    // Whether an unfinished transfer writes this part.
    virtual bool partInUse(const QString& partPath) const = 0;
};

// One file on its way, in either direction: the protocol's state machine for it.
class Transfer
{
public:
    // The sender keeps about two seconds of the line unacknowledged, within these bounds: what
    // waits in the engines' queues, and what a dropped call costs, stays small on a modem
    // line, while a fast line is not held back by the time an acknowledgement takes.
    static constexpr qint64 MinWindow = 16 * 1024;
    static constexpr qint64 MaxWindow = 1024 * 1024;
    static qint64 windowFor(double bytesPerSecond)
    {
        return std::clamp(qint64(2 * bytesPerSecond), MinWindow, MaxWindow);
    }
    // File bytes a data message carries: one such frame holds the line for 190 ms at 56000
    // bit/s, so a chat line sent meanwhile never waits long behind it.
    static constexpr qint64 ChunkSize = 1024;
    // The receiver acknowledges at least this often.
    static constexpr qint64 AckEvery = 4 * 1024;

    Transfer(TransferHost& host, TransferInfo info, quint32 id);
    virtual ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    const TransferInfo& info() const { return info_; }
    quint32 id() const { return id_; }
    bool finished() const { return isFinished(info_.state); }

    // A message of the other side about this transfer.
    virtual void handle(const Message& message) = 0;
    virtual void cancelByUser() = 0;
    // The connection to the engine is gone.
    virtual void linkLost() = 0;
    // This Ferryit ends: the other side is told.
    virtual void closing() = 0;
    // An intact message that breaks the protocol.
    void protocolFailure(const QString& what);

    // Once a second: the rate, and the end of a transfer the other side stopped answering.
    void tick(qint64 now);

protected:
    virtual bool waitsForPeer() const = 0;
    virtual void stalled() = 0;
    virtual void failedByProtocol(const QString& what) = 0;

    void heard() { lastHeard_ = host_.now(); }
    void setDetail(TransferState state, const QString& detail);
    void finish(TransferState state, const QString& detail);
    void progressed() { host_.transferUpdated(info_.key, false); }
    // After the end, a stray message of the other side is answered once with the end, so a
    // side that missed it stops.
    bool answeredAfterEnd();

    TransferHost& host_;
    TransferInfo info_;
    const quint32 id_;
    qint64 lastHeard_ = 0;

private:
    QList<QPair<qint64, qint64>> samples_;
    bool endRepeated_ = false;
};

} // namespace ferryit
