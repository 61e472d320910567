#include "ferry/ferrysession.h"

#include "ferry/ferrylog.h"
#include "ferry/incomingtransfer.h"
#include "ferry/outgoingtransfer.h"

#include <QRandomGenerator>
#include <QStorageInfo>

namespace ferryit {

namespace {
// Unknown transfer ids answered lately; each is answered once.
constexpr qsizetype RememberedUnknown = 32;
} // namespace

FerrySession::FerrySession(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), parts_(options_.partsFile),
      decoder_([this](const QByteArray& raw) { onMessage(raw); })
{
    clock_.start();
    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, &FerrySession::tick);
}

FerrySession::~FerrySession() = default;

qint64 FerrySession::now() const
{
    return options_.clock ? options_.clock() : clock_.elapsed();
}

qint64 FerrySession::freeSpace(const QString& folder) const
{
    if (options_.freeSpace)
        return options_.freeSpace(folder);
    const QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

bool FerrySession::partInUse(const QString& partPath) const
{
    for (const auto& [key, transfer] : transfers_) {
        if (!transfer->finished() && transfer->info().savedPath == partPath)
            return true;
    }
    return false;
}

void FerrySession::sendMessage(const Message& message)
{
    if (linkUp_ && options_.send)
        options_.send(wire::encodeMessage(serializeMessage(message)));
}

void FerrySession::linkUp()
{
    if (linkUp_)
        return;
    linkUp_ = true;
    decoder_.reset();
    sendMessage({MessageType::Hello, 0, 0, true, {}, {}});
    startNext();
}

void FerrySession::linkDown()
{
    if (!linkUp_)
        return;
    linkUp_ = false;
    decoder_.reset();
    setPeerHeard(false);
    setAcceptAll(false);
    for (const auto& [key, transfer] : transfers_)
        transfer->linkLost();
}

void FerrySession::receive(const QByteArray& bytes)
{
    decoder_.feed(bytes);
}

void FerrySession::onMessage(const QByteArray& raw)
{
    const ParsedMessage parsed = parseMessage(raw);
    switch (parsed.status) {
    case ParsedMessage::Damaged:
        ++damaged_;
        qCWarning(lcFerry) << "a damaged message from the other computer was dropped";
        return;
    case ParsedMessage::OtherVersion:
        if (peerOtherVersion_ != parsed.version) {
            peerOtherVersion_ = parsed.version;
            qCWarning(lcFerry) << "the other computer speaks protocol version" << parsed.version;
            Q_EMIT peerChanged();
        }
        return;
    case ParsedMessage::Malformed:
        setPeerHeard(true);
        if (!parsed.headerRead) {
            qCWarning(lcFerry) << "a message of an unknown kind was dropped";
            return;
        }
        if (Transfer* transfer = find(goesToReceiver(parsed.message.type) ? Direction::Incoming
                                                                          : Direction::Outgoing,
                                      parsed.message.id))
            transfer->protocolFailure(QStringLiteral("a malformed message"));
        return;
    case ParsedMessage::Ok:
        setPeerHeard(true);
        dispatch(parsed.message);
        return;
    }
}

void FerrySession::dispatch(const Message& message)
{
    if (message.type == MessageType::Hello) {
        if (message.flag)
            sendMessage({MessageType::Hello, 0, 0, false, {}, {}});
        return;
    }
    const Direction direction =
        goesToReceiver(message.type) ? Direction::Incoming : Direction::Outgoing;
    Transfer* transfer = find(direction, message.id);
    if (transfer) {
        transfer->handle(message);
        return;
    }
    if (message.type == MessageType::Offer)
        offered(message);
    else
        answerUnknown(message);
}

void FerrySession::answerUnknown(const Message& message)
{
    // Data or acceptances of a transfer this side never had (or forgot): the other side is
    // told once, so it does not wait. Ends are never answered, so no two sides loop.
    MessageType answer;
    if (message.type == MessageType::Data || message.type == MessageType::Done)
        answer = MessageType::ReceiverCancel;
    else if (message.type == MessageType::Accept || message.type == MessageType::Ack)
        answer = MessageType::SenderCancel;
    else
        return;
    if (answeredUnknown_.contains(message.id))
        return;
    answeredUnknown_.append(message.id);
    if (answeredUnknown_.size() > RememberedUnknown)
        answeredUnknown_.removeFirst();
    qCWarning(lcFerry) << "a message about an unknown transfer was refused";
    sendMessage({answer, message.id, 0, false, {}, "no such transfer"});
}

void FerrySession::offered(const Message& offer)
{
    int open = 0;
    for (const auto& [key, transfer] : transfers_) {
        if (transfer->info().direction == Direction::Incoming && !transfer->finished())
            ++open;
    }
    if (open >= MaxOpenOffers) {
        qCWarning(lcFerry) << "an offer was refused: too many at once";
        sendMessage({MessageType::Decline,
                     offer.id,
                     0,
                     false,
                     {},
                     "too many files are on offer at once; send them one after another"});
        return;
    }
    auto transfer = std::make_unique<IncomingTransfer>(host(), nextKey_++, offer);
    IncomingTransfer* added = transfer.get();
    add(std::move(transfer));
    added->considerOffer();
}

quint64 FerrySession::sendFile(const QString& path)
{
    quint32 id = 0;
    while (id == 0 || find(Direction::Outgoing, id))
        id = QRandomGenerator::global()->generate();
    const quint64 key = nextKey_++;
    add(std::make_unique<OutgoingTransfer>(host(), key, id, path));
    startNext();
    return key;
}

quint64 FerrySession::sendAgain(quint64 key)
{
    const Transfer* previous = outgoing(key);
    if (!previous || !previous->finished() || previous->info().state == TransferState::Done)
        return 0;
    return sendFile(previous->info().sourcePath);
}

void FerrySession::add(std::unique_ptr<Transfer> transfer)
{
    const quint64 key = transfer->info().key;
    transfers_.emplace(key, std::move(transfer));
    Q_EMIT transferAdded(key);
    forgetOldFinished();
    updateTicking();
}

void FerrySession::forgetOldFinished()
{
    qsizetype finished = 0;
    for (const auto& [key, transfer] : transfers_)
        finished += transfer->finished() ? 1 : 0;
    for (auto it = transfers_.begin(); it != transfers_.end() && finished > MaxFinishedKept;) {
        if (!it->second->finished()) {
            ++it;
            continue;
        }
        const quint64 key = it->first;
        it = transfers_.erase(it);
        --finished;
        Q_EMIT transferRemoved(key);
    }
}

void FerrySession::startNext()
{
    if (!linkUp_)
        return;
    OutgoingTransfer* next = nullptr;
    for (const auto& [key, transfer] : transfers_) {
        if (transfer->info().direction != Direction::Outgoing || transfer->finished())
            continue;
        auto* candidate = static_cast<OutgoingTransfer*>(transfer.get());
        if (!candidate->queued())
            return; // one file at a time: this one is under way
        if (!next)
            next = candidate;
    }
    if (next)
        next->start();
}

Transfer* FerrySession::find(Direction direction, quint32 id) const
{
    for (const auto& [key, transfer] : transfers_) {
        if (transfer->id() == id && transfer->info().direction == direction)
            return transfer.get();
    }
    return nullptr;
}

OutgoingTransfer* FerrySession::outgoing(quint64 key) const
{
    const auto it = transfers_.find(key);
    if (it == transfers_.end() || it->second->info().direction != Direction::Outgoing)
        return nullptr;
    return static_cast<OutgoingTransfer*>(it->second.get());
}

IncomingTransfer* FerrySession::incoming(quint64 key) const
{
    const auto it = transfers_.find(key);
    if (it == transfers_.end() || it->second->info().direction != Direction::Incoming)
        return nullptr;
    return static_cast<IncomingTransfer*>(it->second.get());
}

void FerrySession::accept(quint64 key)
{
    if (IncomingTransfer* transfer = incoming(key))
        transfer->accept();
}

void FerrySession::decline(quint64 key)
{
    if (IncomingTransfer* transfer = incoming(key))
        transfer->decline();
}

void FerrySession::cancel(quint64 key)
{
    const auto it = transfers_.find(key);
    if (it != transfers_.end())
        it->second->cancelByUser();
}

void FerrySession::setAcceptAll(bool acceptAll)
{
    if (acceptAll_ == acceptAll)
        return;
    acceptAll_ = acceptAll;
    Q_EMIT acceptAllChanged(acceptAll_);
    if (!acceptAll_)
        return;
    // What waits for an answer is accepted too.
    QList<quint64> asking;
    for (const auto& [key, transfer] : transfers_) {
        if (transfer->info().awaitingAnswer)
            asking.append(key);
    }
    for (const quint64 key : asking)
        accept(key);
}

void FerrySession::closing()
{
    for (const auto& [key, transfer] : transfers_)
        transfer->closing();
}

const TransferInfo* FerrySession::transfer(quint64 key) const
{
    const auto it = transfers_.find(key);
    return it == transfers_.end() ? nullptr : &it->second->info();
}

QList<quint64> FerrySession::transferKeys() const
{
    QList<quint64> keys;
    for (const auto& [key, transfer] : transfers_)
        keys.append(key);
    return keys;
}

void FerrySession::transferUpdated(quint64 key, bool important)
{
    if (important) {
        dirty_.removeAll(key);
        Q_EMIT transferChanged(key);
        updateTicking();
    } else if (!dirty_.contains(key)) {
        // Progress is shown once a second, not once a message.
        dirty_.append(key);
    }
}

void FerrySession::transferFinished(quint64)
{
    startNext();
}

void FerrySession::updateTicking()
{
    bool running = false;
    for (const auto& [key, transfer] : transfers_)
        running = running || !transfer->finished();
    if (running && !ticker_.isActive())
        ticker_.start();
    else if (!running && dirty_.isEmpty())
        ticker_.stop();
}

void FerrySession::tick()
{
    const qint64 time = now();
    for (const quint64 key : transferKeys()) {
        const auto it = transfers_.find(key);
        if (it != transfers_.end())
            it->second->tick(time);
    }
    const QList<quint64> dirty = std::exchange(dirty_, {});
    for (const quint64 key : dirty) {
        if (transfers_.count(key))
            Q_EMIT transferChanged(key);
    }
    updateTicking();
}

void FerrySession::setPeerHeard(bool heard)
{
    if (peerHeard_ == heard)
        return;
    peerHeard_ = heard;
    Q_EMIT peerChanged();
}

} // namespace ferryit
