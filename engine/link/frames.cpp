#include "engine/link/frames.h"

#include <array>

namespace tellaran::frames {

namespace {

// "<modem><msgbox>" in front, "<msgbox><xodem>" behind.
constexpr qsizetype MessageOverhead = 30;
// "<modem><" DataID ">" in front, "<" DataID "><xodem>" behind.
constexpr qsizetype PayloadOverhead = 34;
constexpr qsizetype PayloadHead = 17;

constexpr std::array<quint32, 256> crcTable()
{
    std::array<quint32, 256> table{};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<quint32, 256> CrcTable = crcTable();

} // namespace

QByteArray registration(const QByteArray& dataId)
{
    return RequestTag.toByteArray() + dataId;
}

QByteArray channelFrame(const QByteArray& dataId, const QByteArray& payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + 2 * dataId.size() + 4 + Terminator.size());
    frame.append('<').append(dataId).append('>');
    frame.append(payload);
    frame.append('<').append(dataId).append('>');
    frame.append(Terminator);
    return frame;
}

QByteArray messageFrame(const QByteArray& text)
{
    QByteArray frame;
    frame.reserve(text.size() + 2 * MsgboxTag.size() + Terminator.size());
    frame.append(MsgboxTag).append(text).append(MsgboxTag).append(Terminator);
    return frame;
}

QByteArray linkFrame(const QByteArray& body)
{
    QByteArray frame;
    frame.reserve(CheckValuePrefixLength + body.size() + ModemTag.size() + XodemTag.size() + 1);
    frame.append(QByteArray(CheckValuePrefixLength, CheckValueMark));
    frame.append(ModemTag).append(body).append(XodemTag);
    const QByteArray prefix =
        checkValuePrefix(QByteArrayView(frame).sliced(CheckValuePrefixLength));
    frame.replace(0, CheckValuePrefixLength, prefix);
    frame.append(LinkFrameEnd);
    return frame;
}

quint32 checkValue(QByteArrayView frame)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : frame)
        crc = CrcTable[(crc ^ quint8(c)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QByteArray checkValuePrefix(QByteArrayView frame)
{
    return CheckValueMark + QByteArray::number(checkValue(frame), 16)
                                .toUpper()
                                .rightJustified(CheckValueDigits, '0');
}

QByteArray relayFrame(const QByteArray& modemLine)
{
    // A terminator inside would make the rest a frame of its own on this computer; the rest
    // is dropped instead.
    const qsizetype inner = modemLine.indexOf(Terminator);
    const QByteArrayView kept =
        inner < 0 ? QByteArrayView(modemLine) : QByteArrayView(modemLine).first(inner);
    QByteArray frame;
    frame.reserve(kept.size() + Terminator.size());
    frame.append(kept).append(Terminator);
    return frame;
}

bool isRegistration(const QByteArray& block)
{
    return block.startsWith(RequestTag);
}

QByteArray registrationDataId(const QByteArray& block)
{
    return block.mid(RequestTag.size(), DataIdLength);
}

QByteArray afterRegistration(const QByteArray& block)
{
    return block.mid(RequestTag.size() + DataIdLength);
}

RelayedFrame parseRelayedFrame(const QByteArray& frame)
{
    RelayedFrame result;
    if (!frame.startsWith(ModemTag))
        return result;
    if (QByteArrayView(frame).sliced(ModemTag.size()).startsWith(MsgboxTag)) {
        if (frame.size() < MessageOverhead) {
            result.kind = RelayedFrame::Damaged;
            return result;
        }
        result.kind = RelayedFrame::Message;
        result.content =
            frame.mid(ModemTag.size() + MsgboxTag.size(), frame.size() - MessageOverhead);
        return result;
    }
    if (frame.size() < PayloadOverhead) {
        result.kind = RelayedFrame::Damaged;
        return result;
    }
    result.kind = RelayedFrame::Payload;
    result.dataId = frame.mid(ModemTag.size() + 1, DataIdLength);
    result.content = frame.mid(PayloadHead, frame.size() - PayloadOverhead);
    return result;
}

} // namespace tellaran::frames
