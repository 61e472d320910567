// Ferryit's protocol without windows or engines: the encoding, the messages, the names files
// are stored under, and two sessions joined by a line that coalesces and splits payloads as
// the engines do, with faults and a hostile peer on it.
#include "ferry/crc32.h"
#include "ferry/filenames.h"
#include "ferry/messages.h"
#include "ferry/transfer.h"
#include "ferry/transfertext.h"
#include "tests/ferry/ferrypair.h"

#include <QCryptographicHash>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using namespace ferryit;
using namespace ferryit::testing;

namespace {

const QByteArrayList EngineTokens = {"KvekEND", "<xodem>\r", "<modem>", "<msgbox>", "<request>"};

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray encoded(const Message& message)
{
    return wire::encodeMessage(serializeMessage(message));
}

// Every message type once, with fields at their limits.
QList<Message> everyKind()
{
    return {{MessageType::Hello, 0, 0, true, {}, {}},
            {MessageType::Offer, 7, 1 << 20, false, sha256("x"), QByteArray(MaxNameBytes, 'n')},
            {MessageType::Data, 7, 4096, false, {}, QByteArray(MaxDataBytes, '<')},
            {MessageType::Done, 7, 1 << 20, false, {}, {}},
            {MessageType::SenderCancel, 7, 0, true, {}, "why"},
            {MessageType::Accept, 7, 99, false, sha256("y"), {}},
            {MessageType::Decline, 7, 0, false, {}, QByteArray(MaxReasonBytes, 'r')},
            {MessageType::Ack, 0xFFFFFFFF, std::numeric_limits<qint64>::max(), false, {}, {}},
            {MessageType::Verified, 7, 0, false, {}, "damaged"},
            {MessageType::ReceiverCancel, 7, 0, false, {}, {}}};
}

bool waitFinished(const FerrySide& side, quint64 key, int ms = 10000)
{
    return QTest::qWaitFor([&] { return isFinished(side.info(key).state); }, ms);
}

qint64 dataBytes(const QList<Message>& carried)
{
    qint64 total = 0;
    for (const Message& m : carried)
        total += m.type == MessageType::Data ? m.bytes.size() : 0;
    return total;
}

// The call drops once `bytes` of file data went from a to b.
void dropAfter(FerryPair& pair, qint64 bytes)
{
    bool dropped = false;
    pair.tap[0] = [&](QByteArray&) {
        if (!dropped && dataBytes(pair.carried[0]) >= bytes) {
            dropped = true;
            QTimer::singleShot(0, [&pair] { pair.drop(); });
        }
        return !dropped;
    };
    QTRY_VERIFY(dropped && !pair.a().session->linkIsUp());
    pair.tap[0] = {};
}

} // namespace

class TestFerryProtocol : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void encodingRoundTripsAndKeepsTokensOut();
    void messagesRefuseDamageAndBadFields();
    void offeredNamesAreCleaned();
    void offersWaitForTheUser();
    void cancelOnEachSide();
    void dropThenResume();
    void hostilePeerFailsOnlyItsTransfer();
    void fullDiskFailsClearly();
    void windowAndAcknowledgementsAtTheirLimits();
    void silentPeerFailsAfterTwoMinutes();
};

void TestFerryProtocol::encodingRoundTripsAndKeepsTokensOut()
{
    QRandomGenerator random(18);
    QByteArrayList messages;
    for (int i = 0; i < 400; ++i) {
        QByteArray m = randomBytes(random.bounded(600), random.generate());
        // Some made only of the bytes the encoding must treat with care.
        if (i % 4 == 0)
            for (char& c : m)
                c = "<K\x7f\x30"[random.bounded(4)];
        messages << m;
    }
    messages << EngineTokens.join() << QByteArray() << QByteArray(wire::MaxMessageSize, 'K');
    QByteArray stream;
    for (const QByteArray& m : messages) {
        const QByteArray e = wire::encodeMessage(m);
        QVERIFY(!e.contains('<') && !e.contains('K'));
        stream += e;
    }
    for (const QByteArray& token : EngineTokens)
        QVERIFY(!stream.contains(token));
    // Any cutting gives the same messages back.
    for (int cut : {1, 7, 4096, int(stream.size())}) {
        QByteArrayList decoded;
        wire::MessageDecoder decoder([&](const QByteArray& m) { decoded << m; });
        for (qsizetype at = 0; at < stream.size(); at += cut)
            decoder.feed(
                QByteArrayView(stream).sliced(at, std::min<qsizetype>(cut, stream.size() - at)));
        QCOMPARE(decoded, messages);
    }
    // Cheap on random data.
    const QByteArray data = randomBytes(1 << 20, 5);
    QVERIFY(wire::encodeMessage(data).size() < data.size() * 1.015);

    // A message one byte past the limit, a stray '<', an unknown code and garbage with no end
    // are skipped, never held, and the next message is found.
    QByteArrayList decoded;
    wire::MessageDecoder decoder([&](const QByteArray& m) { decoded << m; });
    decoder.feed(wire::encodeMessage(QByteArray(wire::MaxMessageSize + 1, 'a')));
    decoder.feed("ab<cd\x7f\x30");
    decoder.feed("ab\x7f\x39"
                 "cd\x7f\x30");
    decoder.feed(QByteArray(3 * wire::MaxMessageSize, 'z'));
    QVERIFY(decoder.buffered() <= wire::MaxMessageSize);
    decoder.feed("\x7f\x30" + wire::encodeMessage("next"));
    QCOMPARE(decoded, QByteArrayList{"next"});
    QCOMPARE(decoder.rejected(), 4);
}

void TestFerryProtocol::messagesRefuseDamageAndBadFields()
{
    for (const Message& m : everyKind()) {
        const QByteArray raw = serializeMessage(m);
        const ParsedMessage parsed = parseMessage(raw);
        QCOMPARE(parsed.status, ParsedMessage::Ok);
        QCOMPARE(parsed.message, m);
        for (qsizetype at = 0; at < raw.size(); at += 3) {
            QByteArray flipped = raw;
            flipped[at] = char(flipped[at] ^ 0x10);
            QCOMPARE(parseMessage(flipped).status, ParsedMessage::Damaged);
        }
    }
    // Intact but wrong: past a limit, an empty chunk, a flag that is no flag, another version.
    const auto withCheck = [](QByteArray raw) {
        QByteArray check;
        const quint32 crc = crc32(raw);
        for (int i = 3; i >= 0; --i)
            check += char(crc >> (8 * i));
        return raw + check;
    };
    const auto body = [](const Message& m) { return serializeMessage(m).chopped(4); };
    QByteArray tooLong = body({MessageType::Data, 1, 0, false, {}, QByteArray(MaxDataBytes, 'd')});
    QCOMPARE(parseMessage(withCheck(tooLong + 'd')).status, ParsedMessage::Malformed);
    QCOMPARE(parseMessage(withCheck(tooLong + 'd')).message.id, 1u);
    QByteArray name =
        body({MessageType::Offer, 1, 5, false, sha256(""), QByteArray(MaxNameBytes, 'n')});
    QCOMPARE(parseMessage(withCheck(name + 'n')).status, ParsedMessage::Malformed);
    QCOMPARE(
        parseMessage(withCheck(body({MessageType::Data, 1, 0, false, {}, "x"}).chopped(1))).status,
        ParsedMessage::Malformed);
    QByteArray flag = body({MessageType::Hello, 0, 0, true, {}, {}});
    flag[6] = 2;
    QCOMPARE(parseMessage(withCheck(flag)).status, ParsedMessage::Malformed);
    QByteArray huge = body({MessageType::Ack, 1, 0, false, {}, {}});
    huge[6] = char(0x80);
    QCOMPARE(parseMessage(withCheck(huge)).status, ParsedMessage::Malformed);
    QByteArray future = body({MessageType::Hello, 0, 0, true, {}, {}});
    future[0] = 2;
    QCOMPARE(parseMessage(withCheck(future)).status, ParsedMessage::OtherVersion);
}

void TestFerryProtocol::offeredNamesAreCleaned()
{
    const struct
    {
        QByteArray offered;
        QString stored;
        bool noted;
    } cases[] = {
        {"report.pdf", "report.pdf", false},
        {"../../x", "x", true},
        {"C:\\Users\\ann\\notes.txt", "notes.txt", true},
        {".bashrc", "bashrc", true},
        {"new\nline\r.txt", "newline.txt", true},
        {"evil\xE2\x80\xAEtxt.exe", "eviltxt.exe", true},
        {"", "", false},
        {"..", "", false},
        {"dir/", "", false},
        {" \t ", "", false},
    };
    for (const auto& c : cases) {
        const CleanedName cleaned = cleanOfferedName(c.offered);
        QCOMPARE(cleaned.name, c.stored);
        QCOMPARE(!cleaned.note.isEmpty(), c.noted);
        QCOMPARE(cleaned.refusal.isEmpty(), !c.stored.isEmpty());
    }
    QVERIFY(!cleanOfferedName("a\nb").note.contains(QLatin1Char('\n')));
    // The longest name kept whole, and one byte more, shortened with its extension kept.
    const QByteArray longest = QByteArray(MaxStoredNameBytes - 4, 'a') + ".txt";
    QCOMPARE(cleanOfferedName(longest).name.toUtf8(), longest);
    const CleanedName shortened = cleanOfferedName("a" + longest);
    QCOMPARE(shortened.name.toUtf8().size(), MaxStoredNameBytes);
    QVERIFY(shortened.name.endsWith(QLatin1String(".txt")) && !shortened.note.isEmpty());
    // Never cut inside a character.
    const CleanedName wide = cleanOfferedName(QString(200, QChar(0x00E9)).toUtf8());
    QVERIFY(wide.name.toUtf8().size() <= MaxStoredNameBytes &&
            !wide.name.contains(QChar::ReplacementCharacter));

    QCOMPARE(numberedName("photo.jpg", 1), QStringLiteral("photo (1).jpg"));
    QCOMPARE(numberedName("archive.tar.gz", 2), QStringLiteral("archive (2).tar.gz"));
    QCOMPARE(numberedName("README", 3), QStringLiteral("README (3)"));
    QCOMPARE(numberedName("x.txt", 0), QStringLiteral("x.txt"));
}

void TestFerryProtocol::offersWaitForTheUser()
{
    FerryPair pair;
    pair.connect();
    // A folder not there yet (a fresh Downloads) is made when a file comes.
    const QString downloads = pair.b().inboxFile("Downloads");
    pair.b().session->setReceiveFolder(downloads);
    const quint64 first = pair.a().session->sendFile(pair.a().outboxFile("a.txt", "aaa"));
    const quint64 second = pair.a().session->sendFile(pair.a().outboxFile("b.txt", "bbb"));
    QTRY_COMPARE(pair.b().transfers(Direction::Incoming).size(), 1);
    const TransferInfo& offer = *pair.b().transfers(Direction::Incoming).first();
    QVERIFY(offer.awaitingAnswer);
    QCOMPARE(stateText(offer), QStringLiteral("waiting: waiting for you to accept"));
    QCOMPARE(pair.a().info(first).detail,
             QStringLiteral("waiting for the other computer to accept"));
    QVERIFY(!QFile::exists(downloads + "/a.txt.part"));

    pair.b().session->decline(offer.key);
    QTRY_COMPARE(pair.a().info(first).state, TransferState::Failed);
    QCOMPARE(pair.a().info(first).detail,
             QStringLiteral("Refused by the other computer: declined by the user"));
    // The next file is offered; accepting all takes the offer that waits.
    QTRY_COMPARE(pair.b().transfers(Direction::Incoming).size(), 2);
    pair.b().session->setAcceptAll(true);
    QVERIFY(waitFinished(pair.a(), second));
    QCOMPARE(fileBytes(downloads + "/b.txt"), QByteArray("bbb"));
}

void TestFerryProtocol::cancelOnEachSide()
{
    FerryPair pair;
    pair.connect();
    pair.b().session->setAcceptAll(true);
    const QByteArray big = randomBytes(2 << 20, 3);
    const quint64 first = pair.a().session->sendFile(pair.a().outboxFile("first.bin", big));
    const quint64 second = pair.a().session->sendFile(pair.a().outboxFile("second.bin", big));

    // The receiver cancels: the sender is told, the part is gone, the next file goes.
    QTRY_VERIFY(pair.b().transfers(Direction::Incoming).size() == 1 &&
                pair.b().transfers(Direction::Incoming).first()->bytesDone > 0);
    const quint64 incoming = pair.b().transfers(Direction::Incoming).first()->key;
    pair.b().session->cancel(incoming);
    QCOMPARE(pair.b().info(incoming).state, TransferState::Cancelled);
    QTRY_COMPARE(pair.a().info(first).state, TransferState::Cancelled);
    QCOMPARE(pair.a().info(first).detail, QStringLiteral("Cancelled on the other computer."));

    // The sender cancels the second one half-way.
    QTRY_VERIFY(pair.b().transfers(Direction::Incoming).size() == 2 &&
                pair.b().transfers(Direction::Incoming).last()->bytesDone > 0);
    pair.a().session->cancel(second);
    const quint64 secondIn = pair.b().transfers(Direction::Incoming).last()->key;
    QTRY_COMPARE(pair.b().info(secondIn).state, TransferState::Cancelled);
    QCOMPARE(pair.b().info(secondIn).detail, QStringLiteral("Cancelled on the other computer."));
    QTest::qWait(50);
    QVERIFY(pair.b().inboxNames().isEmpty());
}

void TestFerryProtocol::dropThenResume()
{
    const QByteArray file = randomBytes(600 * 1024, 4);
    FerryPair pair;
    pair.connect();
    pair.b().session->setAcceptAll(true);
    const quint64 key = pair.a().session->sendFile(pair.a().outboxFile("film.bin", file));
    dropAfter(pair, 200 * 1024);
    QCOMPARE(pair.a().info(key).state, TransferState::Failed);
    const TransferInfo& broken = *pair.b().transfers(Direction::Incoming).first();
    QCOMPARE(broken.state, TransferState::Failed);
    QVERIFY(broken.detail.contains(QLatin1String("resumes")));
    const qint64 held = QFileInfo(pair.b().inboxFile("film.bin.part")).size();
    QCOMPARE(held, broken.bytesDone);

    // A later call, with Bob's Ferryit started afresh: Ann sends the file again.
    pair.b().restart();
    pair.connect();
    pair.b().session->setAcceptAll(true);
    const quint64 resent = pair.a().session->sendAgain(key);
    QVERIFY(waitFinished(pair.a(), resent));
    QCOMPARE(pair.a().info(resent).state, TransferState::Done);
    QCOMPARE(pair.a().info(resent).resumedFrom, held);
    QCOMPARE(fileBytes(pair.b().inboxFile("film.bin")), file);
    // What went twice is at most the window that was in flight.
    const qint64 sentTwice = dataBytes(pair.carried[0]) - file.size();
    QVERIFY2(sentTwice >= 0 && sentTwice <= Transfer::MinWindow,
             qPrintable(QString::number(sentTwice)));

    // A part that no longer matches the file's beginning: the file comes again from its start.
    const quint64 third = pair.a().session->sendFile(pair.a().outboxFile("film2.bin", file));
    dropAfter(pair, dataBytes(pair.carried[0]) + 100 * 1024);
    QFile damaged(pair.b().inboxFile("film2.bin.part"));
    QVERIFY(damaged.open(QIODevice::ReadWrite) && damaged.seek(10) && damaged.write("X") == 1);
    damaged.close();
    pair.connect();
    pair.b().session->setAcceptAll(true);
    const quint64 fourth = pair.a().session->sendAgain(third);
    QVERIFY(waitFinished(pair.a(), fourth));
    QCOMPARE(pair.a().info(fourth).resumedFrom, 0);
    QCOMPARE(fileBytes(pair.b().inboxFile("film2.bin")), file);
    QVERIFY(!QFile::exists(pair.b().inboxFile("film2.bin.part")));
}

void TestFerryProtocol::hostilePeerFailsOnlyItsTransfer()
{
    FerryPair pair;
    QList<Message> replies;
    pair.tap[1] = [&](QByteArray& payload) {
        wire::MessageDecoder([&](const QByteArray& raw) {
            replies << parseMessage(raw).message;
        }).feed(payload);
        return false;
    };
    FerrySession& bob = *pair.b().session;
    bob.linkUp();
    bob.setAcceptAll(true);
    const auto offer = [&](quint32 id, qint64 size, const QByteArray& name) {
        bob.receive(encoded({MessageType::Offer, id, size, false, sha256("hello"), name}));
    };
    const auto incoming = [&](int index) {
        return *pair.b().transfers(Direction::Incoming).at(index);
    };
    const auto repliesOf = [&](MessageType type, quint32 id) {
        int n = 0;
        for (const Message& m : replies)
            n += m.type == type && m.id == id;
        return n;
    };

    // A path in the name lands as its last part, inside the folder.
    const QString escaped =
        QStringLiteral("escaped-") + QFileInfo(pair.b().inbox.path()).fileName();
    offer(1, 5, "../../" + escaped.toUtf8());
    bob.receive(encoded({MessageType::Data, 1, 0, false, {}, "hello"}));
    bob.receive(encoded({MessageType::Done, 1, 5, false, {}, {}}));
    QTRY_COMPARE(incoming(0).state, TransferState::Done);
    QCOMPARE(pair.b().inboxNames(), QStringList{escaped});
    QVERIFY(!QFile::exists(QDir(pair.b().inbox.path()).filePath("../" + escaped)));
    QVERIFY(!QFile::exists(QDir(pair.b().inbox.path()).filePath("../../" + escaped)));
    // Bytes that do not match the offered SHA-256 are not kept.
    offer(6, 5, "liar.txt");
    bob.receive(encoded({MessageType::Data, 6, 0, false, {}, "hellO"}));
    bob.receive(encoded({MessageType::Done, 6, 5, false, {}, {}}));
    QTRY_COMPARE(incoming(1).state, TransferState::Failed);
    QVERIFY(incoming(1).detail.contains(QLatin1String("damaged")));
    QCOMPARE(repliesOf(MessageType::Verified, 6), 1);
    QCOMPARE(pair.b().inboxNames(), QStringList{escaped});
    // Out of order, too much, the same offer twice, a malformed message: each fails its own
    // transfer and tells the other side.
    offer(2, 10, "two");
    bob.receive(encoded({MessageType::Data, 2, 3, false, {}, "abc"}));
    offer(3, 2, "three");
    bob.receive(encoded({MessageType::Data, 3, 0, false, {}, "abc"}));
    offer(4, 10, "four");
    offer(4, 10, "four");
    offer(5, 10, "five");
    QByteArray empty = serializeMessage({MessageType::Data, 5, 0, false, {}, "x"}).chopped(5);
    QByteArray check;
    for (int i = 3; i >= 0; --i)
        check += char(crc32(empty) >> (8 * i));
    bob.receive(wire::encodeMessage(empty + check));
    for (int i = 2; i <= 5; ++i) {
        QCOMPARE(incoming(i).state, TransferState::Failed);
        QVERIFY(incoming(i).detail.startsWith(QLatin1String("The other computer sent")));
        QCOMPARE(repliesOf(MessageType::ReceiverCancel, quint32(i)), 1);
    }
    // Data of a transfer never offered is answered once, then ignored.
    bob.receive(encoded({MessageType::Data, 99, 0, false, {}, "zz"}));
    bob.receive(encoded({MessageType::Data, 99, 2, false, {}, "zz"}));
    QCOMPARE(repliesOf(MessageType::ReceiverCancel, 99), 1);
    // Garbage with no end is never held, and what follows is understood.
    bob.receive(QByteArray(5 * wire::MaxMessageSize, 'z'));
    QVERIFY(bob.decoder().buffered() <= wire::MaxMessageSize);
    bob.receive("\x7f"
                "0");

    // Offers waiting for an answer: up to the limit, and the one past it is refused unseen.
    bob.setAcceptAll(false);
    const qsizetype rows = pair.b().transfers(Direction::Incoming).size();
    for (quint32 id = 100; id < 100 + FerrySession::MaxOpenOffers + 1; ++id)
        offer(id, 5, "many");
    QCOMPARE(pair.b().transfers(Direction::Incoming).size(), rows + FerrySession::MaxOpenOffers);
    QCOMPARE(repliesOf(MessageType::Decline, 100 + FerrySession::MaxOpenOffers), 1);
    QCOMPARE(repliesOf(MessageType::Decline, 100 + FerrySession::MaxOpenOffers - 1), 0);

    // As a sender: an acknowledgement of bytes never sent ends the transfer.
    FerrySession& ann = *pair.a().session;
    QList<Message> sent;
    pair.tap[0] = [&](QByteArray& payload) {
        wire::MessageDecoder([&](const QByteArray& raw) {
            sent << parseMessage(raw).message;
        }).feed(payload);
        return false;
    };
    ann.linkUp();
    const quint64 key = ann.sendFile(pair.a().outboxFile("f", randomBytes(10000, 1)));
    QTRY_VERIFY(!sent.isEmpty() && sent.last().type == MessageType::Offer);
    const quint32 id = sent.last().id;
    ann.receive(encoded({MessageType::Verified, id, 0, true, {}, {}}));
    QCOMPARE(pair.a().info(key).state, TransferState::Failed);
    const quint64 second = ann.sendAgain(key);
    QTRY_VERIFY(sent.last().type == MessageType::Offer && sent.last().id != id);
    ann.receive(encoded({MessageType::Accept, sent.last().id, 0, false, {}, {}}));
    ann.receive(encoded({MessageType::Ack, sent.last().id, 10001, false, {}, {}}));
    QCOMPARE(pair.a().info(second).state, TransferState::Failed);
    QCOMPARE(pair.a().info(second).detail,
             QStringLiteral("The other computer sent an acknowledgement of bytes never sent."));
}

void TestFerryProtocol::fullDiskFailsClearly()
{
    FerryPair pair;
    pair.connect();
    pair.b().session->setAcceptAll(true);
    // Not enough room is refused at once, and both sides say why; exactly enough is taken.
    pair.b().freeSpace = 2000;
    const quint64 fits =
        pair.a().session->sendFile(pair.a().outboxFile("fits.bin", QByteArray(2000, 'f')));
    QVERIFY(waitFinished(pair.a(), fits));
    QCOMPARE(pair.a().info(fits).state, TransferState::Done);
    const quint64 big =
        pair.a().session->sendFile(pair.a().outboxFile("big.bin", QByteArray(2001, 'b')));
    QVERIFY(waitFinished(pair.a(), big));
    const QString why = QStringLiteral(
        "Not enough free disk space for big.bin: it needs 2.0 kB, and 2.0 kB are free.");
    QCOMPARE(pair.a().info(big).detail, QStringLiteral("Refused by the other computer: ") + why);
    QCOMPARE(pair.b().transfers(Direction::Incoming).last()->detail,
             QStringLiteral("Refused: ") + why);

    // The disk fills while the file comes: a clear failure, and the part is gone.
    pair.b().freeSpace = -1;
    const QString source = pair.a().outboxFile("huge.bin", randomBytes(256 * 1024, 6));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 64 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const quint64 key = pair.a().session->sendFile(source);
    const bool ended = waitFinished(pair.a(), key);
    setrlimit(RLIMIT_FSIZE, &before);
    QVERIFY(ended);
    QCOMPARE(pair.a().info(key).state, TransferState::Failed);
    QVERIFY2(
        pair.a().info(key).detail.contains(QLatin1String("could not be written on the receiving "
                                                         "computer: File too large")),
        qPrintable(pair.a().info(key).detail));
    QCOMPARE(pair.b().transfers(Direction::Incoming).last()->detail,
             QStringLiteral("The file could not be written: File too large."));
    QCOMPARE(pair.b().inboxNames(), QStringList{"fits.bin"});
}

void TestFerryProtocol::windowAndAcknowledgementsAtTheirLimits()
{
    FerryPair pair;
    pair.connect();
    pair.b().session->setAcceptAll(true);
    QList<qint64> acks;
    pair.tap[1] = [&](QByteArray& payload) {
        bool ack = false;
        wire::MessageDecoder([&](const QByteArray& raw) {
            const Message m = parseMessage(raw).message;
            if (m.type == MessageType::Ack) {
                acks << m.number;
                ack = true;
            }
        }).feed(payload);
        return !ack;
    };
    const quint64 key =
        pair.a().session->sendFile(pair.a().outboxFile("w.bin", randomBytes(100 * 1024, 8)));
    // The window is about two seconds of the line, within its bounds.
    QCOMPARE(Transfer::windowFor(0), Transfer::MinWindow);
    QCOMPARE(Transfer::windowFor(Transfer::MinWindow / 2 + 1), Transfer::MinWindow + 2);
    QCOMPARE(Transfer::windowFor(Transfer::MaxWindow / 2), Transfer::MaxWindow);
    QCOMPARE(Transfer::windowFor(Transfer::MaxWindow / 2 + 1), Transfer::MaxWindow);
    // Unacknowledged (no rate measured yet), the sender stops at the window exactly.
    QTRY_COMPARE(dataBytes(pair.carried[0]), Transfer::MinWindow);
    QTRY_COMPARE(acks.size(), int(Transfer::MinWindow / Transfer::AckEvery));
    QTest::qWait(50);
    QCOMPARE(dataBytes(pair.carried[0]), Transfer::MinWindow);
    QCOMPARE(acks.first(), Transfer::AckEvery); // not one chunk earlier
    QCOMPARE(pair.a().info(key).bytesDone, 0);
    // One chunk acknowledged lets one chunk more go, and no more.
    quint32 id = 0;
    for (const Message& m : pair.carried[0])
        id = m.type == MessageType::Data ? m.id : id;
    pair.a().session->receive(encoded({MessageType::Ack, id, Transfer::ChunkSize, false, {}, {}}));
    QTRY_COMPARE(dataBytes(pair.carried[0]), Transfer::MinWindow + Transfer::ChunkSize);
    QTest::qWait(50);
    QCOMPARE(dataBytes(pair.carried[0]), Transfer::MinWindow + Transfer::ChunkSize);
}

void TestFerryProtocol::silentPeerFailsAfterTwoMinutes()
{
    QCOMPARE(FerrySession::DefaultStallTimeoutMs, 120 * 1000);
    FerryPair pair;
    pair.connect();
    pair.b().session->setAcceptAll(true);
    // After the offer and three chunks the line goes silent both ways, the engines still
    // there: decided on the line itself, so a fast pair cannot finish the file first.
    bool silent = false;
    int passed = 0;
    pair.tap[0] = [&](QByteArray&) {
        silent = silent || ++passed > 4;
        return !silent;
    };
    pair.tap[1] = [&](QByteArray&) { return !silent; };
    const quint64 key =
        pair.a().session->sendFile(pair.a().outboxFile("s.bin", randomBytes(1 << 20, 2)));
    QTRY_VERIFY(!pair.b().transfers(Direction::Incoming).isEmpty() &&
                pair.b().transfers(Direction::Incoming).first()->bytesDone > 0 && silent);
    QTest::qWait(20);
    const TransferInfo& in = *pair.b().transfers(Direction::Incoming).first();
    pair.clock = FerrySession::DefaultStallTimeoutMs - 1;
    pair.a().session->tick();
    pair.b().session->tick();
    QCOMPARE(pair.a().info(key).state, TransferState::Sending);
    QCOMPARE(in.state, TransferState::Receiving);
    pair.clock = FerrySession::DefaultStallTimeoutMs;
    pair.a().session->tick();
    pair.b().session->tick();
    QCOMPARE(pair.a().info(key).detail,
             QStringLiteral(
                 "No answer from the other computer for 120 seconds; send it again to resume."));
    QCOMPARE(in.detail,
             QStringLiteral(
                 "No data from the other computer for 120 seconds; sending it again resumes it."));
    QVERIFY(QFile::exists(pair.b().inboxFile("s.bin.part")));
}

QTEST_GUILESS_MAIN(TestFerryProtocol)
#include "test_ferry_protocol.moc"
