#include "ferry/transfertext.h"

#include <QLocale>

namespace ferryit {

namespace {

QString stateWord(TransferState state)
{
    switch (state) {
    case TransferState::Waiting:
        return QStringLiteral("waiting");
    case TransferState::Sending:
        return QStringLiteral("sending");
    case TransferState::Receiving:
        return QStringLiteral("receiving");
    case TransferState::Done:
        return QStringLiteral("done");
    case TransferState::Failed:
        return QStringLiteral("failed");
    case TransferState::Cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

} // namespace

QString stateText(const TransferInfo& info)
{
    QString text = stateWord(info.state);
    if (!info.detail.isEmpty())
        text += QStringLiteral(": ") + info.detail;
    return text;
}

QString sizeText(qint64 bytes)
{
    if (bytes < 0)
        return {};
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString rateText(const TransferInfo& info)
{
    if (info.bytesPerSecond <= 0 || isFinished(info.state))
        return {};
    return sizeText(qint64(info.bytesPerSecond)) + QStringLiteral("/s");
}

QString timeLeftText(const TransferInfo& info)
{
    if (info.secondsLeft < 0 || isFinished(info.state))
        return {};
    const qint64 hours = info.secondsLeft / 3600;
    const qint64 minutes = info.secondsLeft / 60 % 60;
    const qint64 seconds = info.secondsLeft % 60;
    if (hours > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(seconds, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(seconds, 2, 10, QLatin1Char('0'));
}

int percentDone(const TransferInfo& info)
{
    if (info.size <= 0)
        return info.state == TransferState::Done ? 100 : 0;
    return int(info.bytesDone * 100 / info.size);
}

} // namespace ferryit
