#pragma once

#include "ferry/ferryfiles.h"
#include "ferry/transfer.h"
#include "ferry/wireencoding.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

namespace ferryit {

class IncomingTransfer;
class OutgoingTransfer;

// Ferryit's side of the protocol, with no window: the transfers both ways, the queue of
// files to send, and the messages to and from the other Ferryit, carried as payloads of the
// client control. The window feeds it what the control delivers and tells it when the
// engine is reached or lost.
class FerrySession : public QObject, private TransferHost
{
    Q_OBJECT
public:
    struct Options
    {
        // Hands one payload to the engine (the control's SendData).
        std::function<void(const QByteArray& payload)> send;
        // Where unfinished parts are remembered (parts.dat); empty: in memory only.
        QString partsFile;
        // Free bytes where the folder is; null: asked of the file system. -1: unknown.
        std::function<qint64(const QString& folder)> freeSpace;
        // Milliseconds on a steady clock; null: the session's own.
        std::function<qint64()> clock;
        // A transfer whose other side says nothing this long while it should fails.
        int stallTimeoutMs = DefaultStallTimeoutMs;
    };

    static constexpr int DefaultStallTimeoutMs = 120 * 1000;
    // Offers not yet finished that are taken at once; more are refused.
    static constexpr int MaxOpenOffers = 16;
    // Finished transfers kept in the list; the oldest are forgotten first.
    static constexpr int MaxFinishedKept = 500;

    explicit FerrySession(Options options, QObject* parent = nullptr);
    ~FerrySession() override;

    void setReceiveFolder(const QString& folder) { receiveFolder_ = folder; }
    QString receiveFolder() const override { return receiveFolder_; }

    // The engine is reached, or lost (which fails what is under way).
    void linkUp();
    void linkDown();
    bool linkIsUp() const override { return linkUp_; }
    // Bytes the engine delivered, in any chunking.
    void receive(const QByteArray& bytes);

    // Queues a file; it is offered when the files before it are done.
    quint64 sendFile(const QString& path);
    // Queues the same file again (a failed or cancelled outgoing transfer).
    quint64 sendAgain(quint64 key);
    void accept(quint64 key);
    void decline(quint64 key);
    void cancel(quint64 key);
    // Accept every offer without asking, until the engine is lost.
    void setAcceptAll(bool acceptAll);
    bool acceptAll() const override { return acceptAll_; }
    // The program ends: the other side is told of what is under way.
    void closing();

    const TransferInfo* transfer(quint64 key) const;
    QList<quint64> transferKeys() const;
    // Whether a message of the other Ferryit came since the engine was reached.
    bool peerHeard() const { return peerHeard_; }
    // The protocol version of the other Ferryit, when it speaks another; 0 otherwise.
    int peerOtherVersion() const { return peerOtherVersion_; }
    // Messages dropped because they arrived damaged.
    int damagedMessages() const { return damaged_; }
    const wire::MessageDecoder& decoder() const { return decoder_; }

    // Once a second while transfers run; public so tests can drive it with their clock.
    void tick();

Q_SIGNALS:
    void transferAdded(quint64 key);
    void transferChanged(quint64 key);
    void transferRemoved(quint64 key);
    void peerChanged();
    void acceptAllChanged(bool acceptAll);

private:
    // TransferHost
    void sendMessage(const Message& message) override;
    void transferUpdated(quint64 key, bool important) override;
    void transferFinished(quint64 key) override;
    qint64 now() const override;
    int stallTimeoutMs() const override { return options_.stallTimeoutMs; }
    qint64 freeSpace(const QString& folder) const override;
    PartRecords& parts() override { return parts_; }
    bool partInUse(const QString& partPath) const override;

    TransferHost& host() { return *this; }
    void onMessage(const QByteArray& raw);
    void dispatch(const Message& message);
    void offered(const Message& offer);
    Transfer* find(Direction direction, quint32 id) const;
    void answerUnknown(const Message& message);
    void startNext();
    void add(std::unique_ptr<Transfer> transfer);
    void forgetOldFinished();
    void updateTicking();
    void setPeerHeard(bool heard);
    OutgoingTransfer* outgoing(quint64 key) const;
    IncomingTransfer* incoming(quint64 key) const;

    Options options_;
    QString receiveFolder_;
    PartRecords parts_;
    wire::MessageDecoder decoder_;
    std::map<quint64, std::unique_ptr<Transfer>> transfers_;
    quint64 nextKey_ = 1;
    bool linkUp_ = false;
    bool acceptAll_ = false;
    bool peerHeard_ = false;
    int peerOtherVersion_ = 0;
    int damaged_ = 0;
    QList<quint32> answeredUnknown_;
    QTimer ticker_;
    QElapsedTimer clock_;
    QList<quint64> dirty_;
};

} // namespace ferryit
