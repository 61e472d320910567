#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// Ferryit's protocol: the messages two Ferryits exchange about their transfers, each laid out
// as version, type, transfer id, the type's fields and a CRC-32 of all that. Numbers are big
// endian. A transfer id is chosen by the sender of the file; the type says which way a
// message goes, so the ids of the two directions never meet.
namespace ferryit {

inline constexpr quint8 ProtocolVersion = 1;
inline constexpr int DigestSize = 32; // SHA-256
// Limits of what a message may carry; longer fields make the message malformed.
inline constexpr qsizetype MaxNameBytes = 1024;
inline constexpr qsizetype MaxReasonBytes = 512;
inline constexpr qsizetype MaxDataBytes = 16 * 1024;

enum class MessageType : quint8
{
    // Either way: this Ferryit is here (and asks for a reply when `flag` is set).
    Hello = 0x01,
    // Sender to receiver.
    Offer = 0x10,          // number: size; digest: SHA-256 of the file; bytes: its name (UTF-8)
    Data = 0x11,           // number: offset; bytes: the file's bytes from there
    Done = 0x12,           // number: the size, all of it sent
    SenderCancel = 0x13,   // flag: the user's choice (else a failure); bytes: why (UTF-8)
                           // Receiver to sender.
    Accept = 0x20,         // number: offset to start at; digest: SHA-256 of what is held
    Decline = 0x21,        // bytes: why
    Ack = 0x22,            // number: bytes received and written so far
    Verified = 0x23,       // flag: whether the file matched its SHA-256; bytes: why not
    ReceiverCancel = 0x24, // flag: the user's choice (else a failure); bytes: why
};

struct Message
{
    MessageType type = MessageType::Hello;
    quint32 id = 0;
    qint64 number = 0;
    bool flag = false;
    QByteArray digest;
    QByteArray bytes;

    bool operator==(const Message&) const = default;
};

// Whether messages of this type travel from the file's sender to its receiver.
bool goesToReceiver(MessageType type);

QByteArray serializeMessage(const Message& message);

struct ParsedMessage
{
    enum Status
    {
        Ok,
        // The check value does not match: nothing in it can be trusted.
        Damaged,
        // Intact, but of a version this Ferryit does not speak.
        OtherVersion,
        // Intact, but not a valid message; `message.type` and `message.id` are set when the
        // header could be read (`headerRead`), so the transfer it names can be failed.
        Malformed,
    };
    Status status = Damaged;
    bool headerRead = false;
    quint8 version = 0;
    Message message;
};

ParsedMessage parseMessage(QByteArrayView raw);

} // namespace ferryit
