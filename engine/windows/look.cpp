#include "engine/windows/look.h"

#include "engine/windows/accessibility.h"

#include <QFile>
#include <QPalette>
#include <QWidget>

// Q_INIT_RESOURCE names a function of the global namespace; a static library's resources
// register only when asked to, and asking twice is harmless.
static void initLookResources()
{
    Q_INIT_RESOURCE(look);
}

namespace tellaran {

namespace {

QString lookStyleSheet()
{
    initLookResources();
    QFile sheet(QStringLiteral(":/look/look.qss"));
    if (!sheet.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(sheet.readAll());
}

} // namespace

QPalette LookPalette()
{
    const QColor ink(0x1b, 0x1b, 0x1b);
    const QColor face(0xe9, 0xed, 0xf1);
    const QColor window(0xf3, 0xf5, 0xf7);
    const QColor highlight(0x2c, 0x53, 0x85);
    // Dimmed text still reads (4.5:1 and more on the window colour).
    const QColor dimmed(0x5d, 0x6b, 0x78);

    QPalette palette;
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, ink);
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::AlternateBase, face);
        palette.setColor(group, QPalette::Text, ink);
        palette.setColor(group, QPalette::PlaceholderText, dimmed);
        palette.setColor(group, QPalette::Button, face);
        palette.setColor(group, QPalette::ButtonText, ink);
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::Highlight, highlight);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Link, highlight);
        palette.setColor(group, QPalette::LinkVisited, QColor(0x5b, 0x3a, 0x85));
        palette.setColor(group, QPalette::ToolTipBase, QColor(0xff, 0xff, 0xe8));
        palette.setColor(group, QPalette::ToolTipText, ink);
        // The shades the style draws frames and bevels with.
        palette.setColor(group, QPalette::Light, Qt::white);
        palette.setColor(group, QPalette::Midlight, QColor(0xf7, 0xf9, 0xfa));
        palette.setColor(group, QPalette::Mid, QColor(0xc5, 0xce, 0xd8));
        palette.setColor(group, QPalette::Dark, QColor(0x87, 0x95, 0xa3));
        palette.setColor(group, QPalette::Shadow, QColor(0x4d, 0x59, 0x66));
    }
    // A disabled control: dimmed text, on the window's colour where it has a field.
    palette.setColor(QPalette::Disabled, QPalette::WindowText, dimmed);
    palette.setColor(QPalette::Disabled, QPalette::Base, window);
    palette.setColor(QPalette::Disabled, QPalette::Text, dimmed);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, dimmed);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x8d, 0x9a, 0xa7));
    palette.setColor(QPalette::Disabled, QPalette::Link, dimmed);
    palette.setColor(QPalette::Disabled, QPalette::LinkVisited, dimmed);
    return palette;
}

void ApplyLook(QWidget* window)
{
    if (!window)
        return;
    window->setPalette(LookPalette());
    window->setStyleSheet(lookStyleSheet());
    InstallAccessibleInterfaces();
}

} // namespace tellaran
