#include "engine/link/frames.h"
#include "engine/link/framesplitter.h"
#include "engine/link/linkframecheck.h"
#include "engine/link/modeminputsplitter.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

using namespace tellaran;

class TestFrames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void buildAndTakeApart();
    void splitFrames();
    void splitModemInput();
    void checkValues();
    void flippedBitsNeverDeliverWrongBytes();
    void capsAndRandomBytes();
};

void TestFrames::buildAndTakeApart()
{
    QCOMPARE(frames::channelFrame("CHAT0001", "hello"),
             QByteArray("<CHAT0001>hello<CHAT0001>KvekEND"));
    QCOMPARE(frames::messageFrame("Hi"), QByteArray("<msgbox>Hi<msgbox>KvekEND"));
    QCOMPARE(frames::linkFrame("<A>hi<A>"),
             frames::checkValuePrefix("<modem><A>hi<A><xodem>") + "<modem><A>hi<A><xodem>\r");
    QCOMPARE(frames::relayFrame("<modem>x<xodem>"), QByteArray("<modem>x<xodem>KvekEND"));

    const QByteArray block("<request>CHAT0001<CHAT0001>hi<CHAT0001>KvekEND");
    QVERIFY(frames::isRegistration(block));
    QCOMPARE(frames::registrationDataId(block), QByteArray("CHAT0001"));
    QCOMPARE(frames::afterRegistration(block), QByteArray("<CHAT0001>hi<CHAT0001>KvekEND"));
    QCOMPARE(frames::registrationDataId("<request>CHA"), QByteArray("CHA"));

    auto payload = frames::parseRelayedFrame("<modem><CHAT0001>hello<CHAT0001><xodem>");
    QCOMPARE(payload.kind, frames::RelayedFrame::Payload);
    QCOMPARE(payload.dataId, QByteArray("CHAT0001"));
    QCOMPARE(payload.content, QByteArray("hello"));
    QCOMPARE(frames::parseRelayedFrame("<modem><msgbox>Hi there<msgbox><xodem>").content,
             QByteArray("Hi there"));
    // The shortest frames with room for their fixed parts, and one character less.
    QCOMPARE(frames::parseRelayedFrame("<modem><msgbox><msgbox><xodem>").kind,
             frames::RelayedFrame::Message);
    QCOMPARE(frames::parseRelayedFrame("<modem><msgbox><msgbox><xodem").kind,
             frames::RelayedFrame::Damaged);
    QCOMPARE(frames::parseRelayedFrame("<modem><CHAT0001><CHAT0001><xodem>").kind,
             frames::RelayedFrame::Payload);
    QCOMPARE(frames::parseRelayedFrame("<modem><CHAT0001><CHAT0001><xodem").kind,
             frames::RelayedFrame::Damaged);
}

void TestFrames::splitFrames()
{
    QByteArrayList got;
    FrameSplitter splitter([&](QByteArray frame) { got.append(frame); });
    splitter.SplitFrames("<A>one<A>KvekEND<A>two<A>KvekEND<A>th");
    QCOMPARE(got, QByteArrayList({"<A>one<A>", "<A>two<A>"}));
    // Empty frames are handed on as they come.
    got.clear();
    splitter.SplitFrames("ree<A>KvekENDKvekEND");
    QCOMPARE(got, QByteArrayList({"<A>three<A>", ""}));

    // Two blocks cut at every point, terminators included.
    const QByteArray stream("<A>x<A>KvekEND<B>yy<B>KvekEND");
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        got.clear();
        splitter.SplitFrames(stream.left(cut));
        splitter.SplitFrames(stream.mid(cut));
        QCOMPARE(got, QByteArrayList({"<A>x<A>", "<B>yy<B>"}));
        QCOMPARE(splitter.buffered(), 0);
    }
}

void TestFrames::splitModemInput()
{
    QByteArrayList got;
    ModemInputSplitter splitter([&](QByteArray line) { got.append(line); });
    splitter.SplitModemInput("OK\r\nCONNECT\r\n", false);
    QCOMPARE(got, QByteArrayList({"OK", "\nCONNECT"}));
    QCOMPARE(splitter.pending(), QByteArray("\n"));
    splitter.clear();

    // Connected: a CR ends a frame only after "<xodem>" and more than 11 characters.
    got.clear();
    splitter.SplitModemInput("abcd<xodem>\r", true);
    QVERIFY(got.isEmpty());
    splitter.SplitModemInput("e<xodem>\rabcde<xodem>\r", true);
    QCOMPARE(got, QByteArrayList({"abcd<xodem>\re<xodem>", "abcde<xodem>"}));

    // CRs inside payloads pass; the ending is found across two reads at every cut.
    const QByteArray frame("<modem><CHAT0001>a\rb<CHAT0001><xodem>");
    const QByteArray stream = frame + '\r' + frame + '\r';
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        got.clear();
        splitter.SplitModemInput(stream.left(cut), true);
        splitter.SplitModemInput(stream.mid(cut), true);
        QCOMPARE(got, QByteArrayList({frame, frame}));
    }
}

namespace {

// The link frames cut from a stream and passed by the check, as the receiving engine relays
// them.
QByteArrayList receivedFrames(const QByteArray& stream, LinkFrameCheck& check)
{
    QByteArrayList lines;
    ModemInputSplitter splitter([&](QByteArray line) { lines.append(line); });
    splitter.SplitModemInput(stream, true);
    QByteArrayList passed;
    for (const QByteArray& line : lines) {
        if (const std::optional<QByteArray> frame = check.Check(line))
            passed.append(*frame);
    }
    return passed;
}

QByteArray withoutEnd(const QByteArray& body)
{
    return frames::ModemTag.toByteArray() + body + frames::XodemTag.toByteArray();
}

} // namespace

void TestFrames::checkValues()
{
    // CRC-32 with the standard check value, in eight upper-case digits after the mark.
    QCOMPARE(frames::checkValue("123456789"), 0xCBF43926u);
    QCOMPARE(frames::checkValuePrefix("123456789"), QByteArray("~CBF43926"));
    QCOMPARE(frames::checkValuePrefix(""), QByteArray("~00000000"));

    const QByteArrayList bodies = {"<CHAT0001>hel\rlo<xodem><CHAT0001>", "<msgbox>Hi<msgbox>",
                                   "<FILE0002>~0000000<modem>x<FILE0002>"};
    QByteArray prefixed;
    QByteArray original;
    QByteArrayList expected;
    for (const QByteArray& body : bodies) {
        prefixed += frames::linkFrame(body);
        original += withoutEnd(body) + '\r';
        expected.append(withoutEnd(body));
    }

    // A receiver built to the original rules drops the prefix with whatever stands before
    // "<modem>", and relays the same frames as from an engine that sends none.
    QByteArrayList originalRules;
    ModemInputSplitter splitter(
        [&](QByteArray line) { originalRules.append(line.mid(line.indexOf(frames::ModemTag))); });
    splitter.SplitModemInput(prefixed, true);
    QCOMPARE(originalRules, expected);

    // Frames without check values are understood, noise in front of them too, until the
    // other side is known to send check values; from then on they are damaged.
    LinkFrameCheck check;
    QCOMPARE(receivedFrames("\r\nCONNECT 56000\r\n" + original, check), expected);
    QVERIFY(!check.peerSendsCheckValues());
    QCOMPARE(receivedFrames(prefixed, check), expected);
    QVERIFY(check.peerSendsCheckValues());
    QCOMPARE(check.droppedFrames(), 0);
    QVERIFY(receivedFrames(original, check).isEmpty());
    QCOMPARE(check.droppedFrames(), 3);

    // A mark without its digits, or digits without their mark, is a damaged check value.
    for (const QByteArray& damaged : {QByteArray("~123456x8"), QByteArray("x12345678")}) {
        LinkFrameCheck fresh;
        QVERIFY(!fresh.Check(damaged + withoutEnd(bodies[1])));
        QVERIFY(!fresh.peerSendsCheckValues());
    }

    // A line full of false marks costs a few checks, not one for each.
    QByteArray falseMarks;
    for (int i = 0; i < 20000; ++i)
        falseMarks += "~00000000<modem>";
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!check.Check(frames::linkFrame(falseMarks).chopped(1) + "x").has_value());
    QVERIFY(clock.elapsed() < 2000);
}

void TestFrames::flippedBitsNeverDeliverWrongBytes()
{
    // Chat, a user message and a payload holding CR, "<xodem>", "<modem>" and a false check
    // value; the letter after the inner "<xodem>" becomes a CR with one flipped bit.
    const QByteArrayList bodies = {"<CHAT0001>hi<CHAT0001>", "<msgbox>Hi there<msgbox>",
                                   "<FILE0002>a\rb<xodem>M~0123ABCD<modem>c<FILE0002>",
                                   "<CHAT0001>next<CHAT0001>"};
    QByteArray stream;
    QList<qsizetype> starts;
    QByteArrayList expected;
    for (const QByteArray& body : bodies) {
        starts.append(stream.size());
        stream += frames::linkFrame(body);
        expected.append(withoutEnd(body));
    }
    starts.append(stream.size());

    // Every bit of every frame but the last, the first of the call among them: prefix, tags,
    // DataID, payload, "<xodem>" and CR.
    for (int hit = 0; hit + 1 < bodies.size(); ++hit) {
        for (qsizetype at = starts[hit]; at < starts[hit + 1]; ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                QByteArray damaged = stream;
                damaged[at] = char(damaged[at] ^ (1 << bit));
                LinkFrameCheck check;
                const QByteArrayList got = receivedFrames(damaged, check);
                QByteArrayList others = expected;
                others.removeAt(hit);
                QVERIFY2(got == expected || got == others,
                         qPrintable(QStringLiteral("frame %1, byte %2, bit %3")
                                        .arg(hit)
                                        .arg(at - starts[hit])
                                        .arg(bit)));
                QCOMPARE(check.droppedFrames() > 0, got == others);
            }
        }
    }
}

void TestFrames::capsAndRandomBytes()
{
    // An endless frame is dropped up to its terminator; the next one is delivered.
    QByteArrayList got;
    FrameSplitter frameSplitter([&](QByteArray frame) { got.append(frame); }, 64);
    ModemInputSplitter modemSplitter([&](QByteArray line) { got.append(line); }, 64);
    for (int i = 0; i < 100; ++i) {
        frameSplitter.SplitFrames(QByteArray(50, 'x'));
        modemSplitter.SplitModemInput(QByteArray(50, 'x'), true);
    }
    QVERIFY(frameSplitter.buffered() < 64 && modemSplitter.buffered() < 64);
    frameSplitter.SplitFrames("xKvek");
    frameSplitter.SplitFrames("END<A>next<A>KvekEND");
    modemSplitter.SplitModemInput("<xod", true);
    modemSplitter.SplitModemInput("em>\r<modem><ABCDEFGH>ok<ABCDEFGH><xodem>\r", true);
    QCOMPARE(got, QByteArrayList({"<A>next<A>", "<modem><ABCDEFGH>ok<ABCDEFGH><xodem>"}));
    QCOMPARE(frameSplitter.droppedFrames() + modemSplitter.droppedLines(), 2);

    // The cap counts the frame, not the start of its terminator: just under and just over.
    got.clear();
    for (const qsizetype size : {64, 65}) {
        FrameSplitter capped([&](QByteArray frame) { got.append(frame); }, 64);
        capped.SplitFrames(QByteArray(size, 'y') + "Kvek");
        capped.SplitFrames("END");
        QCOMPARE(capped.droppedFrames(), size > 64 ? 1 : 0);
    }
    QCOMPARE(got, QByteArrayList{QByteArray(64, 'y')});

    // Random bytes with tokens sprinkled in: no crash, memory stays bounded.
    QRandomGenerator random(20240611);
    frameSplitter.setCap(4096);
    modemSplitter.setCap(4096);
    const QByteArrayList tokens = {"KvekEND", "<xodem>\r", "\r", "<modem>"};
    for (int block = 0; block < 400; ++block) {
        QByteArray chunk(random.bounded(1, 8192), Qt::Uninitialized);
        for (char& c : chunk)
            c = char(random.bounded(256));
        for (int i = random.bounded(4); i > 0; --i)
            chunk.insert(random.bounded(chunk.size()), tokens[random.bounded(tokens.size())]);
        frameSplitter.SplitFrames(chunk);
        modemSplitter.SplitModemInput(chunk, random.bounded(2) == 1);
        QVERIFY(frameSplitter.buffered() <= 4096 + chunk.size());
        QVERIFY(modemSplitter.buffered() <= 4096 + chunk.size());
    }
    QVERIFY(got.size() > 100);
}

QTEST_GUILESS_MAIN(TestFrames)
#include "test_frames.moc"
