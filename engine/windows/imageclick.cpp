#include "engine/windows/imageclick.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

namespace tellaran {

namespace {

class ImageClickFilter : public QObject
{
public:
    ImageClickFilter(QWidget* image, std::function<void()> action)
        : QObject(image), action_(std::move(action))
    {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::MouseButtonRelease)
            return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* image = static_cast<QWidget*>(watched);
        if (mouse->button() != Qt::LeftButton ||
            !image->rect().contains(mouse->position().toPoint())) {
            return false;
        }
        // A copy: the action may end in this filter's owner being unloaded.
        const std::function<void()> action = action_;
        action();
        return true;
    }

private:
    std::function<void()> action_;
};

} // namespace

void OnImageClick(QWidget* image, std::function<void()> action)
{
    if (image)
        image->installEventFilter(new ImageClickFilter(image, std::move(action)));
}

} // namespace tellaran
