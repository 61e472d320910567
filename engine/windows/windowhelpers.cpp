#include "engine/windows/windowhelpers.h"

#include <QDesktopServices>
#include <QEvent>
#include <QObject>
#include <QUrl>
#include <QWidget>
#include <QWindow>

namespace tellaran {

namespace {

class DragOnPressFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            if (auto* widget = qobject_cast<QWidget*>(watched))
                DragWindow(widget->window());
        }
        return false;
    }
};

} // namespace

void KeepOnTop(const QString& modeText, QWidget* window)
{
    if (!window)
        return;
    bool onTop;
    if (modeText == QLatin1String("Enabled"))
        onTop = true;
    else if (modeText == QLatin1String("Disabled"))
        onTop = false;
    else
        return;
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    // Changing a window's flags re-creates it hidden; put it back where and as it was.
    const bool wasVisible = window->isVisible();
    const QPoint position = window->pos();
    const QSize size = window->size();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    window->resize(size);
    window->move(position);
    if (wasVisible)
        window->show();
}

void DragWindow(QWidget* window)
{
    if (!window || window->isMaximized())
        return;
    if (QWindow* handle = window->windowHandle())
        handle->startSystemMove();
}

void DragWindowOnPress(QWidget* handle)
{
    if (handle)
        handle->installEventFilter(new DragOnPressFilter(handle));
}

void OpenDocument(const QString& path)
{
    const QUrl url = path.contains(QLatin1String("://")) ? QUrl(path) : QUrl::fromLocalFile(path);
    QDesktopServices::openUrl(url);
}

} // namespace tellaran
