#include "platform/datafile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

using namespace tellaran;
using datafile::Value;

namespace {

Value number(const QByteArray& token)
{
    return {Value::Number, token};
}
Value text(const QByteArray& characters)
{
    return Value::makeText(characters);
}
Value boolean(bool value)
{
    return {Value::Boolean, datafile::encodeBoolean(value)};
}

QList<QByteArray> encodedAll(const QList<Value>& values)
{
    QList<QByteArray> encoded;
    for (const Value& value : values)
        encoded.append(datafile::encode(value));
    return encoded;
}

// The values written back in their own encoding, all in one record and one a line (the
// settings file's layout), must read back the same.
void checkRoundTrip(const QByteArray& content)
{
    const QList<Value> values = datafile::readValues(content);
    const QByteArray oneRecord = datafile::encodeRecord(encodedAll(values));
    QByteArray oneALine;
    for (const QByteArray& encoded : encodedAll(values))
        oneALine += datafile::encodeRecord({encoded});
    const QByteArray shown = content.toPercentEncoding();
    QVERIFY2(datafile::readValues(oneRecord) == values, shown.constData());
    QVERIFY2(datafile::readValues(oneALine) == values, shown.constData());
}

QByteArray deliveredFile(const char* name)
{
    QFile file(QStringLiteral(TELLARAN_SOURCE_DIR "/data/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestDataFile : public QObject
{
    Q_OBJECT

private slots:
    // What the program delivers and what its writers produce reads as it always did.
    void filesTheSystemWritesReadAsBefore()
    {
        const auto n = [](const char* s) { return text(s); };
        QCOMPARE(datafile::readValues(deliveredFile("data.dat")),
                 (QList<Value>{n(" 2"), n(" 1"), n(" 0"), boolean(false), boolean(true), n(" 1"),
                               n(" 1"), n(" 0"), n(" 1"), n(""), n("1"), n("?"), n("1"),
                               n("9600,n,8,1"), n("1024"), n("1024"), n("TIME"), n("00:00:00")}));
        QCOMPARE(datafile::readValues(deliveredFile("programs.dat")),
                 (QList<Value>{n("Yarnit"), n("Yarnit"), n("Ferryit"), n("Ferryit")}));
        QCOMPARE(datafile::readValues(deliveredFile("ports.dat")),
                 (QList<Value>{number("1"), n("modem:5551")}));

        const QByteArray written =
            datafile::encodeRecord({datafile::encodeNumberAsText(-7), datafile::encodeBoolean(true),
                                    "12", datafile::encodeText("a, b\r\nc\tz ")}) +
            datafile::encodeRecord({datafile::encodeText(""), "-3"});
        QCOMPARE(datafile::readValues(written),
                 (QList<Value>{n("-7"), boolean(true), number("12"), n("a, b\r\nc\tz "), n(""),
                               number("-3")}));
        // Blanks around hand-written bare values and after a closing quote still go.
        QCOMPARE(datafile::readValues(" \t 12 \t,\"x\"  ,#TRUE# \r\n"),
                 (QList<Value>{number("12"), n("x"), boolean(true)}));
    }

    // A form feed before a quote used to open a bare value that the old trimming turned into
    // one beginning with a quote: written back, it read as text. Every blank the reader trims
    // is now skipped before a value too; quotes never stay in a bare value, and an empty field
    // is empty text, which cannot vanish when written one value a line.
    void oddFieldsReadBackTheSame()
    {
        QCOMPARE(datafile::readValues("\f\"a,b\"\r\n\v7\f"),
                 (QList<Value>{text("a,b"), number("7")}));
        QCOMPARE(datafile::readValues("x\"y\" z\",#TRUE\"#"),
                 (QList<Value>{number("xy z"), boolean(true)}));
        QCOMPARE(datafile::readValues(",\t,x,"), (QList<Value>{text(""), text(""), number("x")}));
        for (const char* content : {"\f\"x\"", "\x0c\"\"", "a\"b", ",,", ",\r\n,", " , 1 ,",
                                    "\"open\r\nended", "1\f\f", "\"x\"junk,\"y", "\r\n\r\n"})
            checkRoundTrip(content);
    }

    void anyContentReadsBackTheSame()
    {
        // Bytes the format gives a meaning to, and a few it does not.
        static const char alphabet[] = ",\"\r\n \t\f\v#TRUEFALS1-x\0\xff";
        QRandomGenerator random(20240610);
        for (int round = 0; round < 20000; ++round) {
            QByteArray content(random.bounded(1, 24), '\0');
            for (char& c : content)
                c = alphabet[random.bounded(int(sizeof alphabet - 1))];
            checkRoundTrip(content);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // A record that cannot be written whole leaves the file as it was, whichever byte the
    // disk gives out at, and the message names the cause; once there is room it lands whole.
    void appendLandsWholeOrNotAtAll()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("addresses.dat"));
        const QString temp = dir.filePath(QStringLiteral("addresstemp.dat"));
        // The last line lost its line end: the append adds one.
        const QByteArray before("\"Anna\",\"0815\"\r\n\"Bo\",\"12\"");
        QVERIFY(datafile::rewriteFile(path, temp, before));
        const QByteArray record =
            datafile::encodeRecord({datafile::encodeText("Zed"), datafile::encodeText("Notes")});
        const QByteArray after = before + "\r\n" + record;

        // The file size limit stands in for a full disk; past it a write fails (and would
        // end the process, but for this).
        signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        for (qsizetype room = before.size(); room <= after.size(); ++room) {
            rlimit limited = saved;
            limited.rlim_cur = rlim_t(room);
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
            QString error;
            const bool appended = datafile::appendRecord(path, temp, record, &error);
            setrlimit(RLIMIT_FSIZE, &saved);
            QByteArray content;
            QVERIFY(datafile::readFile(path, &content));
            QVERIFY(!QFile::exists(temp));
            if (room < after.size()) {
                QVERIFY(!appended);
                QCOMPARE(error, QString::fromLocal8Bit(std::strerror(EFBIG)));
                QCOMPARE(content, before);
            } else {
                QVERIFY2(appended, qPrintable(error));
                QCOMPARE(content, after);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestDataFile)
#include "test_datafile.moc"
