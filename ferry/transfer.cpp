#include "ferry/transfer.h"

#include "ferry/ferrylog.h"
#include "ferry/transfertext.h"

namespace ferryit {

namespace {
// The rate is taken over the last few seconds, so that it follows the line.
constexpr qint64 RateWindowMs = 5000;
} // namespace

QString peerText(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes.left(MaxReasonBytes));
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    }
    text = text.simplified();
    if (text.isEmpty())
        return QStringLiteral("no reason given");
    return text.size() > 200 ? text.left(197) + QStringLiteral("...") : text;
}

Transfer::Transfer(TransferHost& host, TransferInfo info, quint32 id)
    : host_(host), info_(std::move(info)), id_(id), lastHeard_(host.now())
{}

Transfer::~Transfer() = default;

void Transfer::setDetail(TransferState state, const QString& detail)
{
    if (info_.state == state && info_.detail == detail)
        return;
    info_.state = state;
    info_.detail = detail;
    host_.transferUpdated(info_.key, true);
}

void Transfer::finish(TransferState state, const QString& detail)
{
    if (finished())
        return;
    info_.awaitingAnswer = false;
    info_.bytesPerSecond = 0;
    info_.secondsLeft = -1;
    samples_.clear();
    setDetail(state, detail);
    qCDebug(lcFerry).noquote() << (info_.direction == Direction::Outgoing ? "sending" : "receiving")
                               << info_.name << "ended after" << info_.bytesSent
                               << "bytes sent from offset" << info_.resumedFrom << "with"
                               << info_.bytesDone << "of" << info_.size
                               << "done:" << stateText(info_);
    host_.transferFinished(info_.key);
}

bool Transfer::answeredAfterEnd()
{
    if (endRepeated_)
        return true;
    endRepeated_ = true;
    return false;
}

void Transfer::protocolFailure(const QString& what)
{
    if (finished())
        return;
    qCWarning(lcFerry).noquote() << "refused from the other computer:" << what;
    failedByProtocol(what);
}

void Transfer::tick(qint64 now)
{
    if (finished())
        return;
    if (waitsForPeer() && now - lastHeard_ >= host_.stallTimeoutMs()) {
        stalled();
        return;
    }
    if (info_.state != TransferState::Sending && info_.state != TransferState::Receiving) {
        samples_.clear();
        return;
    }
    samples_.append({now, info_.bytesDone});
    while (samples_.size() > 2 && now - samples_.first().first > RateWindowMs)
        samples_.removeFirst();
    const qint64 spanMs = now - samples_.first().first;
    if (spanMs <= 0)
        return;
    info_.bytesPerSecond =
        double(info_.bytesDone - samples_.first().second) * 1000.0 / double(spanMs);
    info_.secondsLeft =
        info_.bytesPerSecond > 0 && info_.size >= 0
            ? qint64(double(info_.size - info_.bytesDone) / info_.bytesPerSecond + 0.5)
            : -1;
    host_.transferUpdated(info_.key, false);
}

} // namespace ferryit
