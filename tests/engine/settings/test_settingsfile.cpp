#include "engine/settings/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tellaran;

namespace {

QByteArray fileOf(const QByteArrayList& lines)
{
    return lines.join("\r\n") + "\r\n";
}

const QByteArrayList deliveredOptions = {
    "\" 2\"", "\" 1\"", "\" 0\"", "#FALSE#", "#TRUE#", "\" 1\"",         "\" 1\"",   "\" 0\"",
    "\" 1\"", "\"\"",   "\"1\"",  "\"?\"",   "\"1\"",  "\"9600,n,8,1\"", "\"1024\"", "\"1024\""};

QByteArray withTime(const QByteArrayList& options, const QByteArray& time)
{
    return fileOf(options + QByteArrayList{"\"TIME\"", '"' + time + '"'});
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    SettingsFile file_{dir_.path()};

    void write(const QByteArray& content)
    {
        QFile out(file_.path());
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(content);
    }
    QByteArray content() const
    {
        QFile in(file_.path());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("(missing)");
    }

private slots:
    void init()
    {
        QDir(dir_.path()).mkpath(QStringLiteral("data"));
        QFile::remove(file_.path());
    }

    void encodingsByteForByte()
    {
        SettingsRecord r;
        r.speakerAlwaysOn = true;
        r.pulseDial = true;
        r.only56k = true;
        r.portNumber = "2";
        r.portSettings = "9600,n,8,1";
        r.outBufferSize = "512";
        QVERIFY(file_.SaveSettings(r)); // no file yet: all eighteen lines appear
        QCOMPARE(content(),
                 fileOf({"\" 0\"", "\" 0\"", "\" 1\"", "#TRUE#", "#FALSE#", "\" 1\"", "\" 0\"",
                         "\" 0\"", "\" 0\"", "\"\"", "\"2\"", "\"\"", "\"\"", "\"9600,n,8,1\"",
                         "\"\"", "\"512\"", "\"TIME\"", "\"00:00:00\""}));
        QCOMPARE(file_.LoadSettings(), r);
        QVERIFY(!QFile::exists(file_.tempPath()));

        write(withTime(deliveredOptions, "01:02:03"));
        r.speakerVolume = 3;
        QVERIFY(file_.SaveSettings(r));
        QVERIFY(content().endsWith("\"TIME\"\r\n\"01:02:03\"\r\n"));
    }

    void deliveredFileMatchesDeliveredValues()
    {
        QFile shipped(QStringLiteral(TELLARAN_SOURCE_DIR "/data/data.dat"));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QCOMPARE(shipped.readAll(), withTime(deliveredOptions, "00:00:00"));
        write(withTime(deliveredOptions, "00:00:00"));
        QCOMPARE(file_.LoadSettings(), DeliveredSettings());
    }

    // The time rewrites copy every option line as it stands, commas and odd encodings
    // included, and replace only the value after the marker.
    void timeRewritesKeepOptionLines()
    {
        QByteArrayList options = deliveredOptions;
        options[9] = "\"TIME\""; // a phone "number" that reads like the marker
        options[15] = "2048";    // written bare by hand
        write(withTime(options, "x"));

        QVERIFY(file_.StoreConnectionTime("00:12:34"));
        QCOMPARE(content(), withTime(options, "00:12:34"));
        QCOMPARE(file_.ReadStoredTime(), QByteArray("00:12:34"));
        QCOMPARE(file_.LoadSettings().phoneNumber, QByteArray("TIME"));
        QCOMPARE(file_.LoadSettings().outBufferSize, QByteArray("2048"));

        QVERIFY(file_.ResetConnectionTime());
        QCOMPARE(content(), withTime(options, "00:00:00"));
    }

    // Missing values, or a missing file, take the delivered ones; the time is then 00:00:00.
    void incompleteFiles()
    {
        QCOMPARE(file_.LoadSettings(), DeliveredSettings());
        QCOMPARE(file_.ReadStoredTime(), QByteArray("00:00:00"));
        QVERIFY(file_.StoreConnectionTime("00:01:00"));
        QCOMPARE(content(), withTime(deliveredOptions, "00:01:00"));

        write(fileOf(deliveredOptions)); // an older file without the time
        QCOMPARE(file_.LoadSettings(), DeliveredSettings());
        QCOMPARE(file_.ReadStoredTime(), QByteArray("00:00:00"));
        QVERIFY(file_.SaveSettings(DeliveredSettings()));
        QCOMPARE(content(), withTime(deliveredOptions, "00:00:00"));
        write(fileOf(deliveredOptions));
        QVERIFY(file_.StoreConnectionTime("00:00:09"));
        QCOMPARE(content(), withTime(deliveredOptions, "00:00:09"));

        write(fileOf({"\" 0\"", "\" 0\"", "\" 1\""}));
        SettingsRecord expected = DeliveredSettings();
        expected.speakerVolume = 0;
        expected.speakerUntilConnect = false;
        expected.speakerAlwaysOn = true;
        QCOMPARE(file_.LoadSettings(), expected);
        QVERIFY(file_.StoreConnectionTime("00:02:00"));
        QCOMPARE(file_.LoadSettings(), expected);
        QCOMPARE(file_.ReadStoredTime(), QByteArray("00:02:00"));
    }

    void bothDialValuesTrueLoadAsTone()
    {
        QByteArrayList options = deliveredOptions;
        options[3] = "#TRUE#";
        write(fileOf(options));
        const SettingsRecord r = file_.LoadSettings();
        QVERIFY(!r.pulseDial);
        QVERIFY(r.toneDial);
    }

    void refusedWritesLeaveTheFile()
    {
        const QByteArray original = withTime(deliveredOptions, "00:00:05");
        write(original);
        QString error;
        QVERIFY(!file_.StoreConnectionTime("0\"", &error));
        QVERIFY(!error.isEmpty());

        // A temporary file that cannot be created: nothing is written, and it is reported.
        QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("data/datatemp.dat")));
        error.clear();
        QVERIFY(!file_.StoreConnectionTime("00:09:00", &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(content(), original);
        QVERIFY(QDir(file_.tempPath()).removeRecursively());
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "test_settingsfile.moc"
