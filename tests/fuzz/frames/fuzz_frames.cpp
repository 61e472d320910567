// The frame builders and the parser, along the whole road of a payload: channel and message
// frames as programs send them, cut by the sending engine, wrapped into link frames, cut from
// the modem input, sent on as relay frames, cut again and taken apart. What arrives must be
// what was sent, whatever the chunking, as long as no payload holds a framing token; and
// whatever the payloads hold, a relay frame is always exactly one frame.
#include "engine/link/framesplitter.h"
#include "engine/link/linkframecheck.h"
#include "engine/link/modeminputsplitter.h"
#include "tests/fuzz/fuzzinput.h"

using namespace tellaran;
using tellaran::fuzz::FuzzInput;

namespace {

struct Message
{
    bool isUserMessage = false;
    QByteArray dataId;
    QByteArray content;
};

QList<QByteArray> cutFrames(const QList<QByteArray>& chunks)
{
    QList<QByteArray> cut;
    FrameSplitter splitter([&cut](QByteArray frame) { cut.append(std::move(frame)); });
    for (const QByteArray& chunk : chunks)
        splitter.SplitFrames(chunk);
    return cut;
}

QList<QByteArray> cutLinkFrames(const QList<QByteArray>& chunks)
{
    QList<QByteArray> lines;
    ModemInputSplitter splitter([&lines](QByteArray line) { lines.append(std::move(line)); });
    for (const QByteArray& chunk : chunks)
        splitter.SplitModemInput(chunk, true);
    return lines;
}

QList<QByteArray> inPieces(const QByteArray& stream, uint32_t seed)
{
    return fuzz::chunkings(stream, seed).last();
}

// Whether a message crosses unchanged: no terminator inside its frame, no link-frame ending
// inside its link frame, and no DataID that makes the frame read as one relayed already, or
// as a user message.
bool crossesUnchanged(const Message& m)
{
    const QByteArray frame = m.isUserMessage ? frames::messageFrame(m.content)
                                             : frames::channelFrame(m.dataId, m.content);
    const QByteArray body = frame.first(frame.size() - frames::Terminator.size());
    return !body.contains(frames::Terminator) && !body.contains("<xodem>\r") &&
           (m.isUserMessage || (!m.dataId.startsWith("msgbox>") && !m.dataId.startsWith("modem>")));
}

void checkParsedShape(const QByteArray& frame, const frames::RelayedFrame& parsed)
{
    using Kind = frames::RelayedFrame::Kind;
    if (!frame.startsWith(frames::ModemTag)) {
        FUZZ_CHECK(parsed.kind == Kind::Outgoing);
    } else if (parsed.kind == Kind::Message) {
        FUZZ_CHECK(parsed.content.size() == frame.size() - 30);
        FUZZ_CHECK(frame.mid(15).startsWith(parsed.content));
    } else if (parsed.kind == Kind::Payload) {
        FUZZ_CHECK(parsed.dataId == frame.mid(8, frames::DataIdLength));
        FUZZ_CHECK(parsed.content.size() == frame.size() - 34);
        FUZZ_CHECK(frame.mid(17).startsWith(parsed.content));
    } else {
        FUZZ_CHECK(parsed.kind == Kind::Damaged);
        FUZZ_CHECK(frame.size() < 34);
    }
}

} // namespace

int fuzzOne(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint32_t seed = input.takeByte() | uint32_t(input.takeByte()) << 8;
    QList<Message> sent;
    while (!input.atEnd() && sent.size() < 64) {
        Message m;
        m.isUserMessage = (input.takeByte() & 7) == 0;
        if (!m.isUserMessage)
            m.dataId = input.take(frames::DataIdLength).leftJustified(frames::DataIdLength, 'x');
        m.content = input.takeShort();
        sent.append(m);
    }

    // A registration carries its DataID and nothing else is taken for it.
    for (const Message& m : sent) {
        if (m.isUserMessage)
            continue;
        const QByteArray block = frames::registration(m.dataId) + m.content;
        FUZZ_CHECK(frames::isRegistration(block));
        FUZZ_CHECK(frames::registrationDataId(block) == m.dataId);
        FUZZ_CHECK(frames::afterRegistration(block) == m.content);
    }

    // The sending engine cuts what its programs sent and wraps each frame for the line.
    QByteArray fromPrograms;
    for (const Message& m : sent) {
        fromPrograms += m.isUserMessage ? frames::messageFrame(m.content)
                                        : frames::channelFrame(m.dataId, m.content);
    }
    QByteArray line;
    for (const QByteArray& frame : cutFrames(inPieces(fromPrograms, seed))) {
        const frames::RelayedFrame parsed = frames::parseRelayedFrame(frame);
        checkParsedShape(frame, parsed);
        if (frame.isEmpty() || parsed.kind != frames::RelayedFrame::Outgoing)
            continue;
        line += frames::linkFrame(frame);
    }

    // The receiving engine cuts the line and relays each link frame to its own server.
    QByteArray toOwnServer;
    qsizetype relayed = 0;
    LinkFrameCheck check;
    for (const QByteArray& cut : cutLinkFrames(inPieces(line, seed >> 3))) {
        // A frame cut in two by its payload fails its check; every other frame passes.
        const std::optional<QByteArray> checked = check.Check(cut);
        if (!checked)
            continue;
        const QByteArray& linkFrame = *checked;
        FUZZ_CHECK(cut.endsWith(linkFrame));
        const QByteArray relay = frames::relayFrame(linkFrame);
        // Whatever the other side sent, it arrives as one frame: nothing it holds can
        // become a second frame on this computer.
        FUZZ_CHECK(relay.endsWith(frames::Terminator));
        FUZZ_CHECK(relay.indexOf(frames::Terminator) == relay.size() - frames::Terminator.size());
        FUZZ_CHECK(linkFrame.startsWith(relay.first(relay.size() - frames::Terminator.size())));
        toOwnServer += relay;
        ++relayed;
    }
    QList<Message> received;
    const QList<QByteArray> relayFrames = cutFrames(inPieces(toOwnServer, seed >> 6));
    FUZZ_CHECK(relayFrames.size() == relayed);
    for (const QByteArray& frame : relayFrames) {
        const frames::RelayedFrame parsed = frames::parseRelayedFrame(frame);
        checkParsedShape(frame, parsed);
        received.append(
            {parsed.kind == frames::RelayedFrame::Message, parsed.dataId, parsed.content});
    }

    if (!std::all_of(sent.begin(), sent.end(), crossesUnchanged))
        return 0;
    FUZZ_CHECK(check.droppedFrames() == 0);
    FUZZ_CHECK(received.size() == sent.size());
    for (qsizetype i = 0; i < sent.size(); ++i) {
        FUZZ_CHECK(received[i].isUserMessage == sent[i].isUserMessage);
        FUZZ_CHECK(received[i].dataId == sent[i].dataId);
        FUZZ_CHECK(received[i].content == sent[i].content);
    }
    return 0;
}
