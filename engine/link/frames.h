#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The one character format of both wires: the local TCP connections to the channel server
// and the modem link between the two engines. Everything here is bytes; nothing is escaped.
namespace tellaran::frames {

// Ends every message on the local TCP wire except the registration.
inline constexpr QByteArrayView Terminator = "KvekEND";
inline constexpr QByteArrayView RequestTag = "<request>";
inline constexpr QByteArrayView MsgboxTag = "<msgbox>";
inline constexpr QByteArrayView ModemTag = "<modem>";
inline constexpr QByteArrayView XodemTag = "<xodem>";
inline constexpr char LinkFrameEnd = '\r';
// A link frame's check value stands in front of its "<modem>": this mark and eight
// upper-case hex digits. An engine that does not know it drops it with whatever else comes
// before "<modem>"; hex digits spell no modem result.
inline constexpr char CheckValueMark = '~';
inline constexpr qsizetype CheckValueDigits = 8;
inline constexpr qsizetype CheckValuePrefixLength = 1 + CheckValueDigits;
// A DataID names a channel; the client control always sends exactly this many characters.
inline constexpr qsizetype DataIdLength = 8;

// Buffers fed from outside (carry-over buffers, the transmit queue) stop growing here.
inline constexpr qsizetype DefaultBufferCap = 16 * 1024 * 1024;

// "<request>" DataID: sent once by an application as soon as its connection is up.
QByteArray registration(const QByteArray& dataId);
// "<" DataID ">" payload "<" DataID ">" "KvekEND": one send of an application.
QByteArray channelFrame(const QByteArray& dataId, const QByteArray& payload);
// "<msgbox>" text "<msgbox>" "KvekEND": a user message on its way to the other computer.
QByteArray messageFrame(const QByteArray& text);
// "~" check value, "<modem>" body "<xodem>" CR: a channel or message frame (terminator
// removed) on the modem link.
QByteArray linkFrame(const QByteArray& body);
// The CRC-32 (the polynomial of Ethernet and zip) of a link frame from its "<modem>" to its
// "<xodem>" inclusive.
quint32 checkValue(QByteArrayView frame);
// "~" and checkValue(frame) as eight upper-case hex digits.
QByteArray checkValuePrefix(QByteArrayView frame);
// A link frame as cut from the modem input (without its CR) followed by "KvekEND": what the
// receiving engine sends to its own channel server. A "KvekEND" inside the link frame ends
// it there: what follows is dropped, so the other computer cannot make this engine act on a
// frame of its own making.
QByteArray relayFrame(const QByteArray& modemLine);

// A block read from a local connection that begins with "<request>".
bool isRegistration(const QByteArray& block);
// Characters 10 to 17 of a registration block (fewer when the block is shorter).
QByteArray registrationDataId(const QByteArray& block);
// Whatever came after the DataID in the same block (characters 18 on).
QByteArray afterRegistration(const QByteArray& block);

// A frame handed to the dispatcher, taken apart by its fixed positions.
struct RelayedFrame
{
    enum Kind
    {
        // Not relayed from the modem: a local channel or message frame for the modem link.
        Outgoing,
        // "<modem><msgbox>" text "<msgbox><xodem>": content is the text.
        Message,
        // "<modem><" DataID ">" payload "<" DataID "><xodem>": dataId and content.
        Payload,
        // Begins with "<modem>" but is too short for the fixed positions.
        Damaged,
    };
    Kind kind = Outgoing;
    QByteArray dataId;
    QByteArray content;
};

// Only lengths and positions are used; the closing tags are never compared.
RelayedFrame parseRelayedFrame(const QByteArray& frame);

} // namespace tellaran::frames
