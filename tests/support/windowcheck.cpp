#include "tests/support/windowcheck.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTest>
#include <cmath>
#include <functional>
#include <optional>

namespace tellaran::testing {

namespace {

constexpr double TextContrast = 4.5;
constexpr double MarkContrast = 3.0;
// The common default of desktops (the test platform's own is 9).
constexpr double DesktopFontPoints = 11;

QString nameOf(const QWidget* widget)
{
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(widget->metaObject()->className()),
                                       widget->objectName());
}

double luminance(QRgb rgb)
{
    auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) +
           0.0722 * channel(qBlue(rgb));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The part of the widget the window shows, in the window's coordinates.
QRect shownRect(QWidget& window, const QWidget* widget, QRect area)
{
    for (const QWidget* w = widget; w && w != &window; w = w->parentWidget()) {
        area = area.intersected(w->rect());
        area.translate(w->pos());
    }
    return area.intersected(window.rect());
}

bool isShown(QWidget& window, const QWidget* widget)
{
    return widget->isVisibleTo(&window) && !shownRect(window, widget, widget->rect()).isEmpty();
}

bool isWhollyShown(QWidget& window, const QWidget* widget)
{
    return widget->isVisibleTo(&window) &&
           shownRect(window, widget, widget->rect()).size() == widget->size();
}

// How far apart the pixels that `change` alters are from what they were: for a text
// removed, the contrast of the text with what lies behind it. 0 when nothing changed.
double contrastOfChange(QWidget& window, QRect area, const std::function<void()>& change,
                        const std::function<void()>& undo)
{
    const QImage before = window.grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    change();
    const QImage after = window.grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    undo();
    double best = 0;
    for (int y = 0; y < before.height() && y < after.height(); ++y) {
        for (int x = 0; x < before.width() && x < after.width(); ++x) {
            const QRgb a = before.pixel(x, y);
            const QRgb b = after.pixel(x, y);
            if (a != b)
                best = std::max(best, contrast(a, b));
        }
    }
    return best;
}

// Taking a control's text away and putting it back. A field or list without text shows a
// sample while it is measured.
struct TextChange
{
    QRect area;
    std::function<void()> clear;
    std::function<void()> restore;
    std::function<void()> withSample = [] {};
};

template <typename Control, typename Get, typename Set>
TextChange changeOf(Control* control, QRect area, Get get, Set set, bool sample)
{
    const QString text = get(control);
    TextChange change{area, [control, set] { set(control, QString()); },
                      [control, set, text] { set(control, text); }};
    if (sample && text.isEmpty())
        change.withSample = [control, set] { set(control, QStringLiteral("Wg 0815")); };
    return change;
}

std::optional<TextChange> textChangeOf(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->text().trimmed().isEmpty() || !label->pixmap().isNull())
            return std::nullopt;
        return changeOf(
            label, label->rect(), [](QLabel* l) { return l->text(); },
            [](QLabel* l, const QString& t) { l->setText(t); }, false);
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        if (button->text().trimmed().isEmpty())
            return std::nullopt;
        return changeOf(
            button, button->rect(), [](QAbstractButton* b) { return b->text(); },
            [](QAbstractButton* b, const QString& t) { b->setText(t); }, false);
    }
    if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        return changeOf(
            line, line->rect(), [](QLineEdit* l) { return l->text(); },
            [](QLineEdit* l, const QString& t) { l->setText(t); }, true);
    }
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
        return changeOf(
            edit, edit->viewport()->geometry(), [](QPlainTextEdit* e) { return e->toPlainText(); },
            [](QPlainTextEdit* e, const QString& t) { e->setPlainText(t); }, true);
    }
    if (auto* list = qobject_cast<QListWidget*>(widget)) {
        // The first line stands for all.
        if (list->count() == 0)
            return std::nullopt;
        return changeOf(
            list, list->viewport()->geometry(), [](QListWidget* l) { return l->item(0)->text(); },
            [](QListWidget* l, const QString& t) { l->item(0)->setText(t); }, false);
    }
    if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        if (box->title().trimmed().isEmpty())
            return std::nullopt;
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.subControls = QStyle::SC_GroupBoxLabel;
        const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                         QStyle::SC_GroupBoxLabel, box);
        return changeOf(
            box, label, [](QGroupBox* g) { return g->title(); },
            [](QGroupBox* g, const QString& t) { g->setTitle(t); }, false);
    }
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (combo->currentText().isEmpty())
            return std::nullopt;
        return changeOf(
            combo, combo->rect(), [](QComboBox* c) { return c->currentText(); },
            [](QComboBox* c, const QString& t) { c->setItemText(c->currentIndex(), t); }, false);
    }
    if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
        if (tabs->count() == 0)
            return std::nullopt;
        return changeOf(
            tabs, tabs->tabRect(0), [](QTabBar* t) { return t->tabText(0); },
            [](QTabBar* t, const QString& text) { t->setTabText(0, text); }, false);
    }
    return std::nullopt;
}

void checkText(QWidget& window, QWidget* widget, QStringList* problems, const QString& palette)
{
    std::optional<TextChange> text = textChangeOf(widget);
    if (!text)
        return;
    const QRect area = shownRect(window, widget, text->area);
    if (area.isEmpty())
        return;
    const QSignalBlocker quiet(widget);
    text->withSample();
    const std::function<void()> sampleBack = text->withSample;
    const double measured = contrastOfChange(window, area, text->clear, [&] {
        text->restore();
        sampleBack();
    });
    text->restore();
    if (measured < TextContrast) {
        problems->append(QStringLiteral("%1: text contrast %2:1 under the %3 palette")
                             .arg(nameOf(widget))
                             .arg(measured, 0, 'f', 2)
                             .arg(palette));
    }
}

void checkMark(QWidget& window, QAbstractButton* button, QStringList* problems,
               const QString& palette)
{
    if (!qobject_cast<QCheckBox*>(button) && !qobject_cast<QRadioButton*>(button))
        return;
    const QSignalBlocker quiet(button);
    const bool exclusive = button->autoExclusive();
    const bool checked = button->isChecked();
    button->setAutoExclusive(false);
    const double measured = contrastOfChange(
        window, shownRect(window, button, button->rect()),
        [button, checked] { button->setChecked(!checked); },
        [button, checked] { button->setChecked(checked); });
    button->setAutoExclusive(exclusive);
    if (measured < MarkContrast) {
        problems->append(QStringLiteral("%1: checked and unchecked differ by %2:1 under the %3 "
                                        "palette")
                             .arg(nameOf(button))
                             .arg(measured, 0, 'f', 2)
                             .arg(palette));
    }
}

void checkClipped(QWidget& window, QWidget* widget, QStringList* problems)
{
    if (!isWhollyShown(window, widget))
        return;
    QString text;
    QSize room = widget->contentsRect().size();
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->wordWrap() || !label->pixmap().isNull())
            return;
        text = label->text();
        // With a buddy the '&' marks the shortcut and is not drawn.
        if (label->buddy() && label->textFormat() != Qt::RichText)
            text.replace(QRegularExpression(QStringLiteral("&(.)")), QStringLiteral("\\1"));
        room -= QSize(2 * label->margin() + std::max(0, label->indent()), 2 * label->margin());
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        if (button->text().trimmed().isEmpty())
            return;
        if (button->sizeHint().width() > button->width() ||
            button->fontMetrics().height() > button->height())
            problems->append(
                QStringLiteral("%1: \"%2\" is cut off").arg(nameOf(button), button->text()));
        return;
    } else {
        return;
    }
    if (text.trimmed().isEmpty())
        return;
    const QRect needed = widget->fontMetrics().boundingRect(QRect(0, 0, 100000, 100000),
                                                            Qt::AlignLeft | Qt::AlignTop, text);
    if (needed.width() > room.width() || needed.height() > room.height())
        problems->append(QStringLiteral("%1: \"%2\" is cut off (needs %3x%4, has %5x%6)")
                             .arg(nameOf(widget), text.simplified())
                             .arg(needed.width())
                             .arg(needed.height())
                             .arg(room.width())
                             .arg(room.height()));
}

// The scroll bars of a list or text box belong to it, not to the user's controls.
bool isPartOfScrollArea(const QWidget* widget)
{
    for (const QWidget* w = widget->parentWidget(); w; w = w->parentWidget()) {
        if (qobject_cast<const QAbstractScrollArea*>(w))
            return true;
    }
    return false;
}

bool isWorkedControl(const QWidget* widget)
{
    if (isPartOfScrollArea(widget))
        return false;
    if (qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QComboBox*>(widget) ||
        qobject_cast<const QAbstractSlider*>(widget) || qobject_cast<const QTabBar*>(widget) ||
        qobject_cast<const QListWidget*>(widget))
        return true;
    // A text box that is only shown, and that Tab passes by, is no control of the user's.
    if (auto* line = qobject_cast<const QLineEdit*>(widget))
        return (line->focusPolicy() & Qt::TabFocus) || !line->isReadOnly();
    if (auto* text = qobject_cast<const QPlainTextEdit*>(widget))
        return (text->focusPolicy() & Qt::TabFocus) || !text->isReadOnly();
    // A label that is a button says so through its accessible role.
    if (auto* label = qobject_cast<const QLabel*>(widget)) {
        QAccessibleInterface* face =
            QAccessible::queryAccessibleInterface(const_cast<QLabel*>(label));
        return face && face->actionInterface() &&
               face->actionInterface()->actionNames().contains(
                   QAccessibleActionInterface::pressAction());
    }
    return false;
}

bool isRead(const QWidget* widget)
{
    return qobject_cast<const QProgressBar*>(widget) != nullptr;
}

void checkNames(QWidget& window, const QList<QWidget*>& controls, QStringList* problems)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&window);
    if (!face || face->role() != QAccessible::Window)
        problems->append(QStringLiteral("%1: reports role %2, not a window")
                             .arg(nameOf(&window))
                             .arg(face ? int(face->role()) : -1));
    else if (face->text(QAccessible::Name).trimmed().isEmpty())
        problems->append(QStringLiteral("%1: the window has no name").arg(nameOf(&window)));
    for (QWidget* widget : controls) {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
        if (!control) {
            problems->append(QStringLiteral("%1: no accessible interface").arg(nameOf(widget)));
            continue;
        }
        if (control->text(QAccessible::Name).trimmed().isEmpty())
            problems->append(QStringLiteral("%1: no accessible name").arg(nameOf(widget)));
        if (control->role() == QAccessible::NoRole || control->role() == QAccessible::Client)
            problems->append(QStringLiteral("%1: no role of its own").arg(nameOf(widget)));
        if (!isRead(widget) && widget->isEnabled() && !(widget->focusPolicy() & Qt::TabFocus))
            problems->append(QStringLiteral("%1: cannot take the focus").arg(nameOf(widget)));
    }
}

void checkTabOrder(QWidget& window, const QList<QWidget*>& controls, QStringList* problems)
{
    if (std::none_of(controls.cbegin(), controls.cend(),
                     [](const QWidget* w) { return w->isEnabled() && !isRead(w); }))
        return;
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) {
        problems->append(QStringLiteral("%1: does not become active").arg(nameOf(&window)));
        return;
    }
    QList<QWidget*> reached;
    QWidget* first = nullptr;
    for (int press = 0; press < 4 * controls.size() + 4; ++press) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus && focus->window() == &window ? focus : &window, Qt::Key_Tab);
        focus = QApplication::focusWidget();
        if (!focus || focus->window() != &window) {
            problems->append(
                QStringLiteral("%1: Tab leads out of the window").arg(nameOf(&window)));
            return;
        }
        if (focus == first)
            break;
        if (!first)
            first = focus;
        reached.append(focus);
    }
    for (QWidget* widget : controls) {
        // A list's or box's focus may sit on a part of it; Tab reaches a group of options once,
        // and the arrow keys move within it.
        auto* option = qobject_cast<QRadioButton*>(widget);
        const bool grouped = option && option->autoExclusive();
        const bool found = std::any_of(reached.cbegin(), reached.cend(), [&](QWidget* w) {
            if (grouped && qobject_cast<QRadioButton*>(w) &&
                w->parentWidget() == widget->parentWidget())
                return true;
            return w == widget || widget->isAncestorOf(w) || w->focusProxy() == widget;
        });
        if (!found && widget->isEnabled() && !isRead(widget))
            problems->append(QStringLiteral("%1: Tab never reaches it").arg(nameOf(widget)));
    }
}

} // namespace

QPalette DesktopPalette(bool dark)
{
    if (!dark)
        return QApplication::style()->standardPalette();
    // As dark desktop themes have it: light text on dark surfaces.
    QPalette palette;
    const QColor window(0x2d, 0x2d, 0x2d);
    const QColor text(0xf0, 0xf0, 0xf0);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa0));
    palette.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    palette.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
    palette.setColor(QPalette::Midlight, QColor(0x44, 0x44, 0x44));
    palette.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
    palette.setColor(QPalette::Dark, QColor(0x20, 0x20, 0x20));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, QColor(0x3d, 0xae, 0xe9));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x90, 0x90, 0x90));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x90, 0x90, 0x90));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x90, 0x90, 0x90));
    return palette;
}

QStringList WindowProblems(QWidget& window)
{
    QStringList problems;
    QList<QWidget*> controls;
    const QList<QWidget*> children = window.findChildren<QWidget*>();
    for (QWidget* widget : children) {
        if (isShown(window, widget) && (isWorkedControl(widget) || isRead(widget)))
            controls.append(widget);
    }
    checkNames(window, controls, &problems);

    const QPalette desktop = QApplication::palette();
    for (const bool dark : {false, true}) {
        const QString name = dark ? QStringLiteral("dark") : QStringLiteral("light");
        QApplication::setPalette(DesktopPalette(dark));
        QApplication::processEvents();
        for (QWidget* widget : children) {
            if (!isShown(window, widget))
                continue;
            // A control disabled now is read once it is enabled: its enabled look is what
            // must be legible (a disabled one may be faint, as desktops draw it).
            const bool disabled = !widget->isEnabled() && widget->parentWidget() &&
                                  widget->parentWidget()->isEnabled();
            if (disabled) {
                widget->setEnabled(true);
                QApplication::processEvents();
            }
            checkText(window, widget, &problems, name);
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                checkMark(window, button, &problems, name);
            if (disabled)
                widget->setEnabled(false);
        }
    }
    QApplication::setPalette(desktop);
    // With the desktop's font as large as desktops set it by default. Through a style sheet,
    // as the controls one dresses take no later change of the application's font; their own
    // rules for the size still win.
    const QString sheet = window.styleSheet();
    window.setStyleSheet(QStringLiteral("* { font-size: %1pt; }\n").arg(DesktopFontPoints) + sheet);
    QApplication::processEvents();
    for (QWidget* widget : children) {
        if (isShown(window, widget))
            checkClipped(window, widget, &problems);
    }
    window.setStyleSheet(sheet);
    QApplication::processEvents();
    checkTabOrder(window, controls, &problems);
    return problems;
}

} // namespace tellaran::testing
