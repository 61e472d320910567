#include "ferry/incomingtransfer.h"

#include "ferry/ferryfiles.h"
#include "ferry/ferrylog.h"
#include "ferry/filehasher.h"
#include "ferry/filenames.h"
#include "ferry/transfertext.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <unistd.h>

namespace ferryit {

namespace {

// Names tried before giving up: " (1)" to " (999)".
constexpr int MaxNumberedNames = 999;

TransferInfo incomingInfo(quint64 key, const Message& offer)
{
    TransferInfo info;
    info.key = key;
    info.direction = Direction::Incoming;
    info.name = printableName(QString::fromUtf8(offer.bytes));
    info.size = offer.number;
    return info;
}

const QString ResumeHint = QStringLiteral("sending it again resumes it");

} // namespace

IncomingTransfer::IncomingTransfer(TransferHost& host, quint64 key, const Message& offer)
    : Transfer(host, incomingInfo(key, offer), offer.id), digest_(offer.digest)
{
    const CleanedName cleaned = cleanOfferedName(offer.bytes);
    storedName_ = cleaned.name;
    info_.note = cleaned.note;
    if (!storedName_.isEmpty())
        info_.name = storedName_;
    else
        info_.detail = cleaned.refusal;
}

IncomingTransfer::~IncomingTransfer() = default;

void IncomingTransfer::considerOffer()
{
    qCDebug(lcFerry).noquote() << "offered" << info_.name << "of" << info_.size << "bytes";
    if (storedName_.isEmpty()) {
        refuse(info_.detail);
        return;
    }
    const QString folder = host_.receiveFolder();
    // A Downloads folder that was never made (or was removed) is made when a file comes.
    QDir().mkpath(folder);
    const QFileInfo folderInfo(folder);
    if (!folderInfo.isDir()) {
        refuse(QStringLiteral("The folder for received files, %1, cannot be made.").arg(folder));
        return;
    }
    if (!folderInfo.isWritable()) {
        refuse(QStringLiteral("The folder for received files, %1, cannot be written.").arg(folder));
        return;
    }
    const QString held = host_.parts().find(info_.size, digest_);
    const qint64 needed = info_.size - (held.isEmpty() ? 0 : QFileInfo(held).size());
    const qint64 free = host_.freeSpace(folder);
    if (free >= 0 && free < needed) {
        refuse(QStringLiteral("Not enough free disk space for %1: it needs %2, and %3 are free.")
                   .arg(storedName_, sizeText(needed), sizeText(free)));
        return;
    }
    if (host_.acceptAll()) {
        accept();
        return;
    }
    info_.awaitingAnswer = true;
    setDetail(TransferState::Waiting, QStringLiteral("waiting for you to accept"));
}

void IncomingTransfer::refuse(const QString& why)
{
    host_.sendMessage({MessageType::Decline, id_, 0, false, {}, why.toUtf8()});
    end(TransferState::Failed, QStringLiteral("Refused: %1").arg(why), false);
}

void IncomingTransfer::accept()
{
    if (phase_ != Phase::Asking || finished())
        return;
    info_.awaitingAnswer = false;
    const QString held = host_.parts().find(info_.size, digest_);
    // The same file offered twice at once: only one of them resumes the part.
    if (!held.isEmpty() && !host_.partInUse(held)) {
        acceptResuming(held);
        return;
    }
    if (createPart())
        startReceiving(partPath_, 0, emptyDigest());
}

void IncomingTransfer::acceptResuming(const QString& partPath)
{
    phase_ = Phase::CheckingPart;
    info_.savedPath = partPath;
    setDetail(TransferState::Waiting, QStringLiteral("checking the part received before"));
    const qint64 held = QFileInfo(partPath).size();
    hasher_ = std::make_unique<FileHasher>(
        partPath, held, [this, partPath, held](const FileHasher::Result& result) {
            hasher_.reset();
            if (result.ok) {
                startReceiving(partPath, held, result.digest);
                return;
            }
            // An unreadable part is given up; the file comes again from its start.
            qCWarning(lcFerry).noquote()
                << "the part" << partPath << "cannot be read:" << result.error;
            host_.parts().remove(partPath);
            if (createPart())
                startReceiving(partPath_, 0, emptyDigest());
        });
}

bool IncomingTransfer::createPart()
{
    const QDir folder(host_.receiveFolder());
    for (int n = 0; n <= MaxNumberedNames; ++n) {
        const QString path =
            folder.filePath(numberedName(storedName_, n) + QStringLiteral(".part"));
        part_.setFileName(path);
        // NewOnly: never an existing file, nor a link planted under the name.
        if (part_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            partPath_ = path;
            return true;
        }
        if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink())
            break; // not a name taken: the folder refuses
    }
    const QString why = QStringLiteral("The file %1 could not be created: %2.")
                            .arg(storedName_, part_.errorString());
    host_.sendMessage({MessageType::Decline, id_, 0, false, {}, why.toUtf8()});
    end(TransferState::Failed, why, false);
    return false;
}

void IncomingTransfer::startReceiving(const QString& partPath, qint64 held,
                                      const QByteArray& heldDigest)
{
    partPath_ = partPath;
    info_.savedPath = partPath;
    if (!part_.isOpen()) {
        part_.setFileName(partPath);
        if (!part_.open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !part_.seek(held)) {
            const QString why = QStringLiteral("The part %1 could not be opened: %2.")
                                    .arg(partPath, part_.errorString());
            host_.sendMessage({MessageType::Decline, id_, 0, false, {}, why.toUtf8()});
            end(TransferState::Failed, why, true);
            return;
        }
    }
    host_.parts().add({partPath, info_.size, digest_});
    phase_ = Phase::Receiving;
    received_ = lastAck_ = info_.resumedFrom = info_.bytesDone = held;
    qCDebug(lcFerry).noquote() << "receiving" << info_.name << "of" << info_.size
                               << "bytes, holding" << held;
    host_.sendMessage({MessageType::Accept, id_, held, false, heldDigest, {}});
    heard();
    setDetail(TransferState::Receiving,
              held > 0 ? QStringLiteral("resuming after %1").arg(sizeText(held)) : QString());
}

void IncomingTransfer::decline()
{
    if (phase_ != Phase::Asking || finished())
        return;
    host_.sendMessage({MessageType::Decline, id_, 0, false, {}, "declined by the user"});
    end(TransferState::Cancelled, QStringLiteral("Declined."), false);
}

void IncomingTransfer::handle(const Message& message)
{
    if (finished()) {
        if ((message.type == MessageType::Data || message.type == MessageType::Done) &&
            !answeredAfterEnd())
            host_.sendMessage({MessageType::ReceiverCancel,
                               id_,
                               0,
                               info_.state == TransferState::Cancelled,
                               {},
                               info_.detail.toUtf8()});
        return;
    }
    heard();
    switch (message.type) {
    case MessageType::Offer:
        return protocolFailure(QStringLiteral("the same offer twice"));
    case MessageType::Data:
        if (phase_ != Phase::Receiving)
            return protocolFailure(QStringLiteral("data before the file was accepted"));
        received(message);
        return;
    case MessageType::Done:
        if (phase_ != Phase::Receiving)
            return protocolFailure(QStringLiteral("the end of a file not being received"));
        if (message.number != info_.size || received_ != info_.size)
            return protocolFailure(QStringLiteral("the end of the file before all of it came"));
        verify();
        return;
    case MessageType::SenderCancel:
        if (message.flag)
            end(TransferState::Cancelled, QStringLiteral("Cancelled on the other computer."),
                false);
        else
            end(TransferState::Failed,
                QStringLiteral("Failed on the other computer: %1; %2.")
                    .arg(peerText(message.bytes), ResumeHint),
                true);
        return;
    default:
        return protocolFailure(QStringLiteral("a message of the wrong direction"));
    }
}

void IncomingTransfer::received(const Message& data)
{
    qint64 offset = data.number;
    if (offset == 0 && received_ > 0 && received_ == info_.resumedFrom) {
        // The sender found the part held to differ from its file: it starts over.
        if (!part_.resize(0) || !part_.seek(0)) {
            failWithCancel(
                QStringLiteral("The part could not be emptied: %1.").arg(part_.errorString()),
                QStringLiteral("the part could not be written on the receiving computer"), false);
            return;
        }
        received_ = lastAck_ = info_.resumedFrom = info_.bytesDone = 0;
    }
    if (offset != received_)
        return protocolFailure(QStringLiteral("data out of order (at %1 where %2 was due)")
                                   .arg(offset)
                                   .arg(received_));
    if (data.bytes.size() > info_.size - received_)
        return protocolFailure(QStringLiteral("more data than it offered"));
    if (part_.write(data.bytes) != data.bytes.size()) {
        // A full disk: the part is removed, so that nothing is left growing or taking space.
        const QString error = part_.errorString();
        failWithCancel(QStringLiteral("The file could not be written: %1.").arg(error),
                       QStringLiteral("the file could not be written on the receiving computer: %1")
                           .arg(error),
                       false);
        return;
    }
    received_ += data.bytes.size();
    info_.bytesDone = received_;
    if (received_ - lastAck_ >= AckEvery || received_ == info_.size) {
        lastAck_ = received_;
        host_.sendMessage({MessageType::Ack, id_, received_, false, {}, {}});
    }
    progressed();
}

void IncomingTransfer::verify()
{
    // On the disk before it is checked and named, so a crash never leaves a file half there.
    if (::fsync(part_.handle()) != 0 && errno != EINVAL) {
        failWithCancel(
            QStringLiteral("The file could not be written: %1.").arg(qt_error_string(errno)),
            QStringLiteral("the file could not be written on the receiving computer"), false);
        return;
    }
    part_.close();
    phase_ = Phase::Verifying;
    setDetail(TransferState::Receiving, QStringLiteral("checking the file"));
    hasher_ = std::make_unique<FileHasher>(
        partPath_, info_.size, [this](const FileHasher::Result& result) {
            hasher_.reset();
            verified(result.ok && result.digest == digest_, result.error);
        });
}

void IncomingTransfer::verified(bool matches, const QString& error)
{
    if (!error.isEmpty()) {
        host_.sendMessage(
            {MessageType::Verified, id_, 0, false, {}, "the file could not be checked"});
        end(TransferState::Failed, QStringLiteral("The file could not be checked: %1.").arg(error),
            true);
        return;
    }
    if (!matches) {
        host_.sendMessage({MessageType::Verified,
                           id_,
                           0,
                           false,
                           {},
                           "the file arrived damaged: its SHA-256 does not match"});
        end(TransferState::Failed,
            QStringLiteral(
                "The file arrived damaged (its SHA-256 does not match); it was not kept."),
            false);
        return;
    }
    if (!storeUnderFreeName()) {
        host_.sendMessage(
            {MessageType::Verified, id_, 0, false, {}, "the file could not be named"});
        end(TransferState::Failed,
            QStringLiteral("The file arrived whole but could not be named; it is kept as %1.")
                .arg(partPath_),
            true);
        return;
    }
    host_.parts().remove(partPath_);
    host_.sendMessage({MessageType::Verified, id_, 0, true, {}, {}});
    end(TransferState::Done, QString(), true);
}

bool IncomingTransfer::storeUnderFreeName()
{
    const QDir folder(QFileInfo(partPath_).dir());
    for (int n = 0; n <= MaxNumberedNames; ++n) {
        const QString name = numberedName(storedName_, n);
        const QString path = folder.filePath(name);
        // Qt renames without replacing: a name taken meanwhile is never overwritten.
        if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
            continue;
        if (QFile::rename(partPath_, path)) {
            info_.savedPath = path;
            if (name != info_.name) {
                info_.note += (info_.note.isEmpty() ? QString() : QStringLiteral(" "));
                info_.note += QStringLiteral("Saved as \u201c%1\u201d: the name was taken.")
                                  .arg(printableName(name));
                info_.name = name;
            }
            return true;
        }
    }
    return false;
}

bool IncomingTransfer::waitsForPeer() const
{
    return phase_ == Phase::Receiving;
}

void IncomingTransfer::stalled()
{
    failWithCancel(QStringLiteral("No data from the other computer for %1 seconds; %2.")
                       .arg(host_.stallTimeoutMs() / 1000)
                       .arg(ResumeHint),
                   QStringLiteral("the receiving computer got nothing for %1 seconds")
                       .arg(host_.stallTimeoutMs() / 1000),
                   true);
}

void IncomingTransfer::failedByProtocol(const QString& what)
{
    failWithCancel(QStringLiteral("The other computer sent %1.").arg(what),
                   QStringLiteral("the receiving computer refused %1").arg(what), true);
}

void IncomingTransfer::failWithCancel(const QString& detail, const QString& toPeer, bool keepPart)
{
    host_.sendMessage({MessageType::ReceiverCancel, id_, 0, false, {}, toPeer.toUtf8()});
    end(TransferState::Failed, detail, keepPart);
}

void IncomingTransfer::cancelByUser()
{
    if (finished())
        return;
    if (phase_ == Phase::Asking) {
        decline();
        return;
    }
    host_.sendMessage({MessageType::ReceiverCancel, id_, 0, true, {}, "cancelled by the receiver"});
    end(TransferState::Cancelled, QStringLiteral("Cancelled."), false);
}

void IncomingTransfer::linkLost()
{
    switch (phase_) {
    case Phase::Asking:
        end(TransferState::Failed,
            QStringLiteral("The connection to the engine was lost before the file was accepted."),
            false);
        return;
    case Phase::CheckingPart:
    case Phase::Receiving:
        end(TransferState::Failed,
            QStringLiteral("The connection to the engine was lost; %1.").arg(ResumeHint), true);
        return;
    case Phase::Verifying:
    case Phase::Ended:
        return; // the whole file is here: it is checked and named all the same
    }
}

void IncomingTransfer::closing()
{
    if (finished())
        return;
    if (phase_ == Phase::Asking)
        host_.sendMessage({MessageType::Decline,
                           id_,
                           0,
                           false,
                           {},
                           "Ferryit was closed on the receiving computer"});
    else
        host_.sendMessage({MessageType::ReceiverCancel,
                           id_,
                           0,
                           false,
                           {},
                           "Ferryit was closed on the receiving computer"});
}

void IncomingTransfer::end(TransferState state, const QString& detail, bool keepPart)
{
    const bool hadPart = !partPath_.isEmpty() && phase_ != Phase::Ended;
    phase_ = Phase::Ended;
    hasher_.reset();
    part_.close();
    if (hadPart && !keepPart) {
        QFile::remove(partPath_);
        host_.parts().remove(partPath_);
        info_.savedPath.clear();
    }
    finish(state, detail);
}

} // namespace ferryit
