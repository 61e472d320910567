#include "engine/windows/windowhelpers.h"

#include <QTest>
#include <QWidget>

using namespace tellaran;

class TestWindowHelpers : public QObject
{
    Q_OBJECT

private slots:
    void keepOnTopTogglesOnlyTheHint()
    {
        QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
        window.setGeometry(120, 90, 240, 160);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect placed = window.geometry();
        const Qt::WindowFlags plain = window.windowFlags();

        for (const char* other : {"enabled", "", "Enabled ", "On"}) {
            KeepOnTop(QString::fromLatin1(other), &window);
            QCOMPARE(window.windowFlags(), plain);
        }

        KeepOnTop(QStringLiteral("Enabled"), &window);
        QCOMPARE(window.windowFlags(), plain | Qt::WindowStaysOnTopHint);
        QVERIFY(window.isVisible());
        QCOMPARE(window.geometry(), placed);

        KeepOnTop(QStringLiteral("Disabled"), &window);
        QCOMPARE(window.windowFlags(), plain);
        QVERIFY(window.isVisible());
        QCOMPARE(window.geometry(), placed);

        // A window not shown yet stays hidden.
        QWidget hidden;
        KeepOnTop(QStringLiteral("Enabled"), &hidden);
        QVERIFY(hidden.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!hidden.isVisible());
    }

    void dragWindowLeavesMaximisedWindow()
    {
        QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
        window.showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect placed = window.geometry();
        DragWindow(&window);
        QTest::qWait(0);
        QVERIFY(window.isMaximized());
        QCOMPARE(window.geometry(), placed);
    }
};

QTEST_MAIN(TestWindowHelpers)
#include "test_windowhelpers.moc"
