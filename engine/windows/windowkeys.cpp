#include "engine/windows/windowkeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

namespace tellaran {

namespace {

class WindowKeys : public QObject
{
public:
    explicit WindowKeys(QWidget* window) : QObject(window), window_(window)
    {
        window->installEventFilter(this);
    }

    static WindowKeys* of(QWidget* window)
    {
        for (QObject* child : window->children()) {
            if (auto* keys = dynamic_cast<WindowKeys*>(child))
                return keys;
        }
        return new WindowKeys(window);
    }

    QPointer<QPushButton> defaultButton;
    std::function<void()> escape;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_ || event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~Qt::KeypadModifier)
            return false;
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return pressDefault();
        case Qt::Key_Escape: {
            if (!escape)
                return false;
            // A copy: the action may unload the window, and this filter with it.
            const std::function<void()> action = escape;
            action();
            return true;
        }
        default:
            return false;
        }
    }

private:
    bool pressDefault()
    {
        auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        QPushButton* target =
            focused && focused->window() == window_ ? focused : defaultButton.data();
        if (!target || !target->isVisible() || !target->isEnabled())
            return false;
        target->click();
        return true;
    }

    QWidget* window_;
};

} // namespace

void SetDefaultButton(QWidget* window, QPushButton* button)
{
    if (!window)
        return;
    WindowKeys::of(window)->defaultButton = button;
    if (button)
        button->setDefault(true);
}

void OnEscape(QWidget* window, std::function<void()> action)
{
    if (window)
        WindowKeys::of(window)->escape = std::move(action);
}

} // namespace tellaran
