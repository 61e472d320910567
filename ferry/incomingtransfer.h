#pragma once

#include "ferry/transfer.h"

#include <QFile>
#include <memory>

namespace ferryit {

class FileHasher;

// A file the other computer offers: checked against the folder and the free space, accepted
// by the user (or at once), written as "name.part" as it comes, and renamed to a name not yet
// taken once its SHA-256 matches the offer's. A part left by a dropped call is remembered, and
// a later offer of the same file resumes from it.
class IncomingTransfer : public Transfer
{
public:
    IncomingTransfer(TransferHost& host, quint64 key, const Message& offer);
    ~IncomingTransfer() override;

    // Looks at the offer: refuses it, asks the user, or accepts it at once.
    void considerOffer();
    void accept();
    void decline();

    void handle(const Message& message) override;
    void cancelByUser() override;
    void linkLost() override;
    void closing() override;

protected:
    bool waitsForPeer() const override;
    void stalled() override;
    void failedByProtocol(const QString& what) override;

private:
    enum class Phase
    {
        Asking,
        CheckingPart,
        Receiving,
        Verifying,
        Ended
    };

    void refuse(const QString& why);
    void acceptResuming(const QString& partPath);
    bool createPart();
    void startReceiving(const QString& partPath, qint64 held, const QByteArray& heldDigest);
    void received(const Message& data);
    void verify();
    void verified(bool matches, const QString& error);
    bool storeUnderFreeName();
    // Ends the transfer; the part is kept for a later resume, or deleted.
    void end(TransferState state, const QString& detail, bool keepPart);
    void failWithCancel(const QString& detail, const QString& toPeer, bool keepPart);

    Phase phase_ = Phase::Asking;
    QByteArray digest_;
    QString storedName_;
    QString partPath_;
    QFile part_;
    qint64 received_ = 0;
    qint64 lastAck_ = 0;
    std::unique_ptr<FileHasher> hasher_;
};

} // namespace ferryit
