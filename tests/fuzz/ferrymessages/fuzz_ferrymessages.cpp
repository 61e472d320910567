// Ferryit's wire, from both ends. The input is read three ways:
// - as bytes arriving from the engine: the decoder never holds more than its limit, gives the
//   same messages however the bytes are cut, and the parser takes every one apart without
//   fault; an intact message parses to what serializes back to the same bytes;
// - as messages to send: encoded, they never hold a framing token of the engine, and decode to
//   themselves;
// - as a hostile peer's conversation with a receiving and sending session: messages built
//   from the input's choices, whatever their order. No crash, nothing written outside the
//   folder, and the decoder stays within its limit.
#include "ferry/ferrysession.h"
#include "ferry/messages.h"
#include "ferry/wireencoding.h"
#include "tests/fuzz/fuzzinput.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>

using namespace ferryit;
using tellaran::fuzz::FuzzInput;

namespace {

QByteArrayList decodeAll(const QList<QByteArray>& chunks)
{
    QByteArrayList messages;
    wire::MessageDecoder decoder([&](const QByteArray& m) {
        FUZZ_CHECK(m.size() <= wire::MaxMessageSize);
        messages << m;
    });
    for (const QByteArray& chunk : chunks) {
        decoder.feed(chunk);
        FUZZ_CHECK(decoder.buffered() <= wire::MaxMessageSize);
    }
    return messages;
}

void arrivingBytes(const QByteArray& stream, uint32_t seed)
{
    const QList<QList<QByteArray>> cuts = tellaran::fuzz::chunkings(stream, seed);
    const QByteArrayList messages = decodeAll(cuts.first());
    for (qsizetype i = 1; i < cuts.size(); ++i)
        FUZZ_CHECK(decodeAll(cuts[i]) == messages);
    for (const QByteArray& raw : messages) {
        const ParsedMessage parsed = parseMessage(raw);
        if (parsed.status == ParsedMessage::Ok)
            FUZZ_CHECK(serializeMessage(parsed.message) == raw);
    }
}

void sentMessages(FuzzInput& input)
{
    QByteArrayList messages;
    QByteArray stream;
    while (!input.atEnd() && messages.size() < 64) {
        QByteArray m = input.takeShort();
        // Now and then made of the bytes that need care only.
        if (!m.isEmpty() && (m[0] & 3) == 0)
            for (char& c : m)
                c = "<K\x7f\x30"[quint8(c) % 4];
        messages << m;
        stream += wire::encodeMessage(m);
    }
    FUZZ_CHECK(!stream.contains('<') && !stream.contains('K'));
    FUZZ_CHECK(decodeAll({stream}) == messages);
}

Message chosenMessage(FuzzInput& input)
{
    static const MessageType types[] = {MessageType::Hello,        MessageType::Offer,
                                        MessageType::Data,         MessageType::Done,
                                        MessageType::SenderCancel, MessageType::Accept,
                                        MessageType::Decline,      MessageType::Ack,
                                        MessageType::Verified,     MessageType::ReceiverCancel};
    Message m;
    m.type = types[input.takeUpTo(9)];
    m.id = quint32(input.takeUpTo(3));
    m.number = input.takeUpTo(600);
    m.flag = input.takeBool();
    m.digest = input.takeBool() ? QCryptographicHash::hash(QByteArray(int(m.number), 'a'),
                                                           QCryptographicHash::Sha256)
                                : QByteArray(32, '\0');
    m.bytes = input.takeShort();
    if (m.type == MessageType::Offer && input.takeBool())
        m.bytes = "../" + m.bytes;
    return m;
}

void hostilePeer(FuzzInput& input)
{
    QTemporaryDir top;
    const QString inbox = top.filePath(QStringLiteral("inbox"));
    QDir().mkpath(inbox);
    const QString outgoing = top.filePath(QStringLiteral("sent.bin"));
    QFile file(outgoing);
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray(700, 'a'));
    file.close();

    QByteArrayList replies;
    FerrySession session({[&](const QByteArray& p) { replies << p; },
                          {},
                          [](const QString&) { return qint64(1000); },
                          [] { return qint64(0); }});
    session.setReceiveFolder(inbox);
    session.linkUp();
    session.setAcceptAll(input.takeBool());
    session.sendFile(outgoing);
    int steps = 0;
    while (!input.atEnd() && steps++ < 48) {
        switch (input.takeUpTo(7)) {
        case 0:
            session.receive(input.takeShort());
            break;
        case 1:
            for (const quint64 key : session.transferKeys())
                session.accept(key);
            break;
        case 2:
            if (!session.transferKeys().isEmpty())
                session.cancel(session.transferKeys().value(
                    input.takeUpTo(int(session.transferKeys().size()) - 1)));
            break;
        case 3:
            QCoreApplication::processEvents();
            break;
        default: {
            QByteArray encoded = wire::encodeMessage(serializeMessage(chosenMessage(input)));
            const int cut = input.takeUpTo(int(encoded.size()));
            session.receive(encoded.left(cut));
            session.receive(encoded.mid(cut));
        }
        }
        FUZZ_CHECK(session.decoder().buffered() <= wire::MaxMessageSize);
    }
    QCoreApplication::processEvents();
    session.linkDown();
    // Whatever was written stays in the folder, and only there.
    QDirIterator all(top.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                     QDirIterator::Subdirectories);
    while (all.hasNext()) {
        const QString path = all.next();
        FUZZ_CHECK(path == inbox || path == outgoing || QFileInfo(path).path() == inbox);
    }
    for (const QByteArray& reply : replies)
        FUZZ_CHECK(!reply.contains('<') && !reply.contains('K'));
}

} // namespace

int fuzzOne(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    FuzzInput choice(data, size);
    arrivingBytes(bytes, choice.takeByte());
    FuzzInput messages(data, size);
    sentMessages(messages);
    FuzzInput peer(data, size);
    hostilePeer(peer);
    return 0;
}
