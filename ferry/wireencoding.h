#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

// How Ferryit's messages travel inside the engine's payloads.
//
// The engine's wire has no escape of its own: a payload holding "KvekEND", "<xodem>" CR,
// "<modem>", "<msgbox>" or "<request>" is cut or misread on the way. Every one of those
// tokens begins with '<' or 'K', so an encoded message holds neither byte: each of them, and
// the escape byte itself, travels as the escape byte and a code. On random data that costs
// 3 bytes in 256 (1.2 %). The escape byte and one more code end a message, so the receiver
// finds the messages again in a stream that the engine hands on coalesced or split anywhere.
namespace ferryit::wire {

inline constexpr char Escape = '\x7f';
inline constexpr char EndCode = '0';
inline constexpr char LessThanCode = '1';
inline constexpr char CapitalKCode = '2';
inline constexpr char EscapeCode = '3';

// The largest message the decoder takes (before encoding); anything longer is dropped
// without being held, so a peer cannot make the receiver buffer more than this.
inline constexpr qsizetype MaxMessageSize = 16 * 1024 + 64;

// One message, encoded and ended: never holds '<' or 'K'.
QByteArray encodeMessage(QByteArrayView message);

// Cuts the messages out of the stream of arrived bytes, in any chunking.
class MessageDecoder
{
public:
    using MessageHandler = std::function<void(const QByteArray& message)>;

    explicit MessageDecoder(MessageHandler onMessage) : onMessage_(std::move(onMessage)) {}

    // Hands every message completed by this chunk to the handler, in order. What cannot be
    // a message (a byte the encoding never sends, an unknown code, a message past
    // MaxMessageSize) is skipped up to the next end, and counted.
    void feed(QByteArrayView chunk);
    // Forgets a message under way (the connection it came on is gone).
    void reset();

    qsizetype buffered() const { return message_.size(); }
    int rejected() const { return rejected_; }

private:
    void reject();

    MessageHandler onMessage_;
    QByteArray message_;
    bool afterEscape_ = false;
    bool skipping_ = false;
    int rejected_ = 0;
};

} // namespace ferryit::wire
