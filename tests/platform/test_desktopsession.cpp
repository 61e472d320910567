// Which window system the programs start on: XWayland under Wayland, where their windows can
// place themselves and stay on top; Wayland only without XWayland; a clear error with none.
#include "platform/desktopsession.h"

#include <QTest>

using tellaran::desktopsession::chooseWindowSystem;

class TestDesktopSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void chooses_data()
    {
        QTest::addColumn<QByteArray>("qtPlatform");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QByteArray>("session");
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<bool>("refused");
        QTest::newRow("X11") << QByteArray() << QByteArray(":0") << QByteArray()
                             << QByteArray("x11") << QByteArray() << false;
        QTest::newRow("Wayland with XWayland")
            << QByteArray() << QByteArray(":0") << QByteArray("wayland-0") << QByteArray("wayland")
            << QByteArray("xcb") << false;
        QTest::newRow("a Wayland session, its socket not passed on")
            << QByteArray() << QByteArray(":1") << QByteArray() << QByteArray("wayland")
            << QByteArray("xcb") << false;
        QTest::newRow("Wayland alone") << QByteArray() << QByteArray() << QByteArray("wayland-0")
                                       << QByteArray("wayland") << QByteArray("wayland") << false;
        QTest::newRow("chosen by the user")
            << QByteArray("offscreen") << QByteArray() << QByteArray() << QByteArray()
            << QByteArray() << false;
        QTest::newRow("no display") << QByteArray() << QByteArray() << QByteArray()
                                    << QByteArray("tty") << QByteArray() << true;
    }
    void chooses()
    {
        QFETCH(QByteArray, qtPlatform);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, wayland);
        QFETCH(QByteArray, session);
        const auto choice =
            chooseWindowSystem(qtPlatform, display, wayland, session, QStringLiteral("Tellaran"));
        QTEST(choice.platform, "chosen");
        QFETCH(bool, refused);
        QCOMPARE(!choice.error.isEmpty(), refused);
        if (refused) {
            QVERIFY(choice.error.startsWith(QLatin1String("Tellaran: ")));
            QVERIFY(!choice.error.contains(QLatin1Char('\n')));
        }
    }
};

QTEST_GUILESS_MAIN(TestDesktopSession)
#include "test_desktopsession.moc"
