#include "ferry/messages.h"

#include "ferry/crc32.h"

#include <limits>

namespace ferryit {

namespace {

constexpr qsizetype HeaderSize = 1 + 1 + 4;
constexpr qsizetype CheckSize = 4;
constexpr qsizetype NumberSize = 8;

void appendNumber(QByteArray& out, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

quint64 readNumber(QByteArrayView in, qsizetype at, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | quint8(in[at + i]);
    return value;
}

bool knownType(quint8 type)
{
    switch (MessageType(type)) {
    case MessageType::Hello:
    case MessageType::Offer:
    case MessageType::Data:
    case MessageType::Done:
    case MessageType::SenderCancel:
    case MessageType::Accept:
    case MessageType::Decline:
    case MessageType::Ack:
    case MessageType::Verified:
    case MessageType::ReceiverCancel:
        return true;
    }
    return false;
}

// The body of each type: whether it starts with a number, a flag or a digest, and how many
// bytes may follow.
struct Layout
{
    bool number = false;
    bool flag = false;
    bool digest = false;
    qsizetype minBytes = 0;
    qsizetype maxBytes = 0;
};

Layout layoutOf(MessageType type)
{
    switch (type) {
    case MessageType::Hello:
        return {false, true, false, 0, 0};
    case MessageType::Offer:
        return {true, false, true, 1, MaxNameBytes};
    case MessageType::Data:
        return {true, false, false, 1, MaxDataBytes};
    case MessageType::Done:
    case MessageType::Ack:
        return {true, false, false, 0, 0};
    case MessageType::Accept:
        return {true, false, true, 0, 0};
    case MessageType::Verified:
    case MessageType::SenderCancel:
    case MessageType::ReceiverCancel:
        return {false, true, false, 0, MaxReasonBytes};
    case MessageType::Decline:
        return {false, false, false, 0, MaxReasonBytes};
    }
    return {};
}

} // namespace

bool goesToReceiver(MessageType type)
{
    return type == MessageType::Offer || type == MessageType::Data || type == MessageType::Done ||
           type == MessageType::SenderCancel;
}

QByteArray serializeMessage(const Message& message)
{
    const Layout layout = layoutOf(message.type);
    QByteArray out;
    out.reserve(HeaderSize + NumberSize + DigestSize + message.bytes.size() + CheckSize);
    out.append(char(ProtocolVersion)).append(char(message.type));
    appendNumber(out, message.id, 4);
    if (layout.number)
        appendNumber(out, quint64(message.number), NumberSize);
    if (layout.flag)
        out.append(message.flag ? '\1' : '\0');
    if (layout.digest) {
        QByteArray digest = message.digest.left(DigestSize);
        digest.resize(DigestSize, '\0');
        out.append(digest);
    }
    if (layout.maxBytes > 0)
        out.append(message.bytes);
    appendNumber(out, crc32(out), CheckSize);
    return out;
}

ParsedMessage parseMessage(QByteArrayView raw)
{
    ParsedMessage parsed;
    if (raw.size() < HeaderSize + CheckSize)
        return parsed; // too short to hold even a check value: damaged
    const QByteArrayView covered = raw.first(raw.size() - CheckSize);
    if (crc32(covered) != quint32(readNumber(raw, covered.size(), CheckSize)))
        return parsed;

    parsed.version = quint8(raw[0]);
    if (parsed.version != ProtocolVersion) {
        parsed.status = ParsedMessage::OtherVersion;
        return parsed;
    }
    parsed.status = ParsedMessage::Malformed;
    if (!knownType(quint8(raw[1])))
        return parsed;
    Message& message = parsed.message;
    message.type = MessageType(quint8(raw[1]));
    message.id = quint32(readNumber(raw, 2, 4));
    parsed.headerRead = true;

    const Layout layout = layoutOf(message.type);
    qsizetype at = HeaderSize;
    const qsizetype fixed =
        (layout.number ? NumberSize : 0) + (layout.flag ? 1 : 0) + (layout.digest ? DigestSize : 0);
    const qsizetype rest = covered.size() - at - fixed;
    if (rest < layout.minBytes || rest > layout.maxBytes)
        return parsed;
    if (layout.number) {
        const quint64 number = readNumber(raw, at, NumberSize);
        if (number > quint64(std::numeric_limits<qint64>::max()))
            return parsed;
        message.number = qint64(number);
        at += NumberSize;
    }
    if (layout.flag) {
        if (quint8(raw[at]) > 1)
            return parsed;
        message.flag = raw[at] == '\1';
        ++at;
    }
    if (layout.digest) {
        message.digest = raw.sliced(at, DigestSize).toByteArray();
        at += DigestSize;
    }
    message.bytes = covered.sliced(at).toByteArray();
    parsed.status = ParsedMessage::Ok;
    return parsed;
}

} // namespace ferryit
