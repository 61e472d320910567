#include "engine/link/frames.h"
#include "engine/link/framesplitter.h"
#include "engine/link/modeminputsplitter.h"

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
    void capsAndRandomBytes();
};

void TestFrames::buildAndTakeApart()
{
    QCOMPARE(frames::channelFrame("CHAT0001", "hello"),
             QByteArray("<CHAT0001>hello<CHAT0001>KvekEND"));
    QCOMPARE(frames::messageFrame("Hi"), QByteArray("<msgbox>Hi<msgbox>KvekEND"));
    QCOMPARE(frames::linkFrame("<A>hi<A>"), QByteArray("<modem><A>hi<A><xodem>\r"));
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
