#pragma once

#include "ferry/transfer.h"

#include <QFile>
#include <memory>

namespace ferryit {

class FileHasher;

// A file this Ferryit sends: hashed, offered, streamed from the disk within the window the
// receiver's acknowledgements allow, then checked by the receiver.
class OutgoingTransfer : public Transfer
{
public:
    OutgoingTransfer(TransferHost& host, quint64 key, quint32 id, const QString& path);
    ~OutgoingTransfer() override;

    // Waiting for its turn in the queue (also after the connection came back).
    bool queued() const { return phase_ == Phase::Queued; }
    // Its turn: look at the file, hash it and offer it.
    void start();

    void handle(const Message& message) override;
    void cancelByUser() override;
    void linkLost() override;
    void closing() override;
    // Sends what the window allows: after an acknowledgement, and when the link is up again.
    void pump();

protected:
    bool waitsForPeer() const override;
    void stalled() override;
    void failedByProtocol(const QString& what) override;

private:
    enum class Phase
    {
        Queued,
        Hashing,
        Offered,
        CheckingResume,
        Sending,
        AwaitingVerification,
        Ended
    };

    void offer(const QByteArray& digest);
    void accepted(const Message& accept);
    void startSending(qint64 from);
    void failWithCancel(const QString& detail, const QString& toPeer);
    void end(TransferState state, const QString& detail);

    Phase phase_ = Phase::Queued;
    std::unique_ptr<FileHasher> hasher_;
    QByteArray digest_;
    QFile file_;
    qint64 next_ = 0;
    qint64 acked_ = 0;
};

} // namespace ferryit
