#include "ferry/outgoingtransfer.h"

#include "ferry/ferrylog.h"
#include "ferry/filehasher.h"

#include <QFileInfo>

namespace ferryit {

namespace {

TransferInfo outgoingInfo(quint64 key, const QString& path)
{
    TransferInfo info;
    info.key = key;
    info.direction = Direction::Outgoing;
    info.name = QFileInfo(path).fileName();
    info.sourcePath = path;
    info.detail = QStringLiteral("waiting for its turn");
    return info;
}

const QString ResumeHint = QStringLiteral("send it again to resume");

} // namespace

OutgoingTransfer::OutgoingTransfer(TransferHost& host, quint64 key, quint32 id, const QString& path)
    : Transfer(host, outgoingInfo(key, path), id)
{}

OutgoingTransfer::~OutgoingTransfer() = default;

void OutgoingTransfer::start()
{
    if (phase_ != Phase::Queued)
        return;
    const QFileInfo file(info_.sourcePath);
    if (file.isDir()) {
        end(TransferState::Failed, QStringLiteral("Folders cannot be sent, only files."));
        return;
    }
    if (!file.exists()) {
        end(TransferState::Failed, QStringLiteral("The file is no longer there."));
        return;
    }
    if (!file.isFile() || !file.isReadable()) {
        end(TransferState::Failed, QStringLiteral("The file cannot be read."));
        return;
    }
    if (info_.name.toUtf8().size() > MaxNameBytes) {
        end(TransferState::Failed, QStringLiteral("The file's name is too long to be sent."));
        return;
    }
    info_.size = file.size();
    phase_ = Phase::Hashing;
    setDetail(TransferState::Waiting, QStringLiteral("checking the file"));
    hasher_ = std::make_unique<FileHasher>(
        info_.sourcePath, info_.size, [this](const FileHasher::Result& result) {
            hasher_.reset();
            if (!result.ok)
                end(TransferState::Failed,
                    QStringLiteral("The file could not be read: %1.").arg(result.error));
            else
                offer(result.digest);
        });
}

void OutgoingTransfer::offer(const QByteArray& digest)
{
    digest_ = digest;
    phase_ = Phase::Offered;
    Message message{MessageType::Offer, id_, info_.size, false, digest_, info_.name.toUtf8()};
    host_.sendMessage(message);
    heard();
    setDetail(TransferState::Waiting, QStringLiteral("waiting for the other computer to accept"));
}

void OutgoingTransfer::handle(const Message& message)
{
    if (finished()) {
        // The receiver goes on as if the transfer still ran: it missed the end.
        if ((message.type == MessageType::Accept || message.type == MessageType::Ack) &&
            !answeredAfterEnd())
            host_.sendMessage({MessageType::SenderCancel,
                               id_,
                               0,
                               info_.state == TransferState::Cancelled,
                               {},
                               info_.detail.toUtf8()});
        return;
    }
    heard();
    switch (message.type) {
    case MessageType::Accept:
        if (phase_ != Phase::Offered)
            return protocolFailure(QStringLiteral("an acceptance of a file not on offer"));
        if (message.number > info_.size)
            return protocolFailure(QStringLiteral("an acceptance past the end of the file"));
        accepted(message);
        return;
    case MessageType::Decline:
        if (phase_ != Phase::Offered)
            return protocolFailure(QStringLiteral("a refusal of a file not on offer"));
        end(TransferState::Failed,
            QStringLiteral("Refused by the other computer: %1").arg(peerText(message.bytes)));
        return;
    case MessageType::Ack:
        if (phase_ != Phase::Sending && phase_ != Phase::AwaitingVerification)
            return protocolFailure(QStringLiteral("an acknowledgement before the data"));
        if (message.number < acked_ || message.number > next_)
            return protocolFailure(QStringLiteral("an acknowledgement of bytes never sent"));
        acked_ = message.number;
        info_.bytesDone = acked_;
        progressed();
        pump();
        return;
    case MessageType::Verified:
        if (phase_ != Phase::AwaitingVerification || acked_ != info_.size)
            return protocolFailure(QStringLiteral("a check before the whole file was sent"));
        if (message.flag)
            end(TransferState::Done, QString());
        else
            end(TransferState::Failed,
                QStringLiteral("The other computer did not keep the file: %1")
                    .arg(peerText(message.bytes)));
        return;
    case MessageType::ReceiverCancel:
        if (message.flag)
            end(TransferState::Cancelled, QStringLiteral("Cancelled on the other computer."));
        else
            end(TransferState::Failed,
                QStringLiteral("Failed on the other computer: %1").arg(peerText(message.bytes)));
        return;
    default:
        return protocolFailure(QStringLiteral("a message of the wrong direction"));
    }
}

void OutgoingTransfer::accepted(const Message& accept)
{
    const qint64 held = accept.number;
    if (held == 0) {
        startSending(0);
        return;
    }
    // The receiver holds a part: resume only if it is this file's beginning.
    phase_ = Phase::CheckingResume;
    setDetail(TransferState::Waiting, QStringLiteral("checking what the other computer holds"));
    const QByteArray heldDigest = accept.digest;
    hasher_ = std::make_unique<FileHasher>(
        info_.sourcePath, held, [this, held, heldDigest](const FileHasher::Result& result) {
            hasher_.reset();
            if (!result.ok) {
                failWithCancel(
                    QStringLiteral("The file could not be read: %1.").arg(result.error),
                    QStringLiteral("the file could not be read on the sending computer"));
                return;
            }
            startSending(result.digest == heldDigest ? held : 0);
        });
}

void OutgoingTransfer::startSending(qint64 from)
{
    file_.setFileName(info_.sourcePath);
    if (!file_.open(QIODevice::ReadOnly) || !file_.seek(from)) {
        failWithCancel(QStringLiteral("The file could not be read: %1.").arg(file_.errorString()),
                       QStringLiteral("the file could not be read on the sending computer"));
        return;
    }
    phase_ = Phase::Sending;
    next_ = acked_ = info_.resumedFrom = info_.bytesDone = from;
    info_.bytesSent = 0;
    qCDebug(lcFerry).noquote() << "sending" << info_.name << "of" << info_.size
                               << "bytes from offset" << from;
    heard();
    setDetail(TransferState::Sending,
              from > 0 ? QStringLiteral("resumed at %1 bytes").arg(from) : QString());
    pump();
}

void OutgoingTransfer::pump()
{
    if (phase_ != Phase::Sending || !host_.linkIsUp())
        return;
    QByteArray chunk;
    const qint64 window = windowFor(info_.bytesPerSecond);
    while (next_ < info_.size && next_ - acked_ < window) {
        chunk.resize(qsizetype(std::min(ChunkSize, info_.size - next_)));
        const qint64 got = file_.read(chunk.data(), chunk.size());
        if (got != chunk.size()) {
            failWithCancel(QStringLiteral("The file could not be read, or it changed while it was "
                                          "being sent."),
                           QStringLiteral("the file could not be read on the sending computer"));
            return;
        }
        host_.sendMessage({MessageType::Data, id_, next_, false, {}, chunk});
        next_ += got;
        info_.bytesSent += got;
        // The message may have ended the transfer (a failing send ends the link).
        if (phase_ != Phase::Sending)
            return;
    }
    if (next_ == info_.size) {
        file_.close();
        phase_ = Phase::AwaitingVerification;
        host_.sendMessage({MessageType::Done, id_, info_.size, false, {}, {}});
        heard();
        setDetail(TransferState::Sending, QStringLiteral("the other computer checks the file"));
    }
}

bool OutgoingTransfer::waitsForPeer() const
{
    return (phase_ == Phase::Sending && next_ > acked_) || phase_ == Phase::AwaitingVerification;
}

void OutgoingTransfer::stalled()
{
    failWithCancel(QStringLiteral("No answer from the other computer for %1 seconds; %2.")
                       .arg(host_.stallTimeoutMs() / 1000)
                       .arg(ResumeHint),
                   QStringLiteral("the receiving computer stopped answering"));
}

void OutgoingTransfer::failedByProtocol(const QString& what)
{
    failWithCancel(QStringLiteral("The other computer sent %1.").arg(what),
                   QStringLiteral("the sending computer refused %1").arg(what));
}

void OutgoingTransfer::failWithCancel(const QString& detail, const QString& toPeer)
{
    if (phase_ != Phase::Queued && phase_ != Phase::Hashing)
        host_.sendMessage({MessageType::SenderCancel, id_, 0, false, {}, toPeer.toUtf8()});
    end(TransferState::Failed, detail);
}

void OutgoingTransfer::cancelByUser()
{
    if (finished())
        return;
    if (phase_ != Phase::Queued && phase_ != Phase::Hashing)
        host_.sendMessage({MessageType::SenderCancel, id_, 0, true, {}, "cancelled by the sender"});
    end(TransferState::Cancelled, QStringLiteral("Cancelled."));
}

void OutgoingTransfer::linkLost()
{
    switch (phase_) {
    case Phase::Queued:
    case Phase::Ended:
        return;
    case Phase::Hashing:
        // Offered again, from the start, once the engine is back.
        hasher_.reset();
        phase_ = Phase::Queued;
        setDetail(TransferState::Waiting, QStringLiteral("waiting for its turn"));
        return;
    default:
        end(TransferState::Failed,
            QStringLiteral("The connection to the engine was lost; %1.").arg(ResumeHint));
    }
}

void OutgoingTransfer::closing()
{
    if (finished() || phase_ == Phase::Queued || phase_ == Phase::Hashing)
        return;
    host_.sendMessage({MessageType::SenderCancel,
                       id_,
                       0,
                       false,
                       {},
                       "Ferryit was closed on the sending computer"});
}

void OutgoingTransfer::end(TransferState state, const QString& detail)
{
    phase_ = Phase::Ended;
    hasher_.reset();
    file_.close();
    finish(state, detail);
}

} // namespace ferryit
