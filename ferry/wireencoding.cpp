#include "ferry/wireencoding.h"

namespace ferryit::wire {

QByteArray encodeMessage(QByteArrayView message)
{
    QByteArray encoded;
    encoded.reserve(message.size() + message.size() / 64 + 2);
    for (const char byte : message) {
        switch (byte) {
        case '<':
            encoded.append(Escape).append(LessThanCode);
            break;
        case 'K':
            encoded.append(Escape).append(CapitalKCode);
            break;
        case Escape:
            encoded.append(Escape).append(EscapeCode);
            break;
        default:
            encoded.append(byte);
        }
    }
    encoded.append(Escape).append(EndCode);
    return encoded;
}

void MessageDecoder::reject()
{
    ++rejected_;
    skipping_ = true;
    message_.clear();
}

void MessageDecoder::reset()
{
    message_.clear();
    afterEscape_ = false;
    skipping_ = false;
}

void MessageDecoder::feed(QByteArrayView chunk)
{
    for (const char byte : chunk) {
        if (afterEscape_) {
            afterEscape_ = false;
            char decoded = 0;
            switch (byte) {
            case EndCode:
                if (!skipping_) {
                    // Moved out first: the handler may feed or reset this decoder.
                    const QByteArray complete = std::move(message_);
                    message_.clear();
                    onMessage_(complete);
                }
                skipping_ = false;
                continue;
            case LessThanCode:
                decoded = '<';
                break;
            case CapitalKCode:
                decoded = 'K';
                break;
            case EscapeCode:
                decoded = Escape;
                break;
            default:
                if (!skipping_)
                    reject();
                continue;
            }
            if (skipping_)
                continue;
            if (message_.size() >= MaxMessageSize)
                reject();
            else
                message_.append(decoded);
            continue;
        }
        if (byte == Escape) {
            afterEscape_ = true;
            continue;
        }
        if (skipping_)
            continue;
        if (byte == '<' || byte == 'K' || message_.size() >= MaxMessageSize)
            reject();
        else
            message_.append(byte);
    }
}

} // namespace ferryit::wire
