#include "engine/windows/imageclick.h"

#include "engine/windows/picturebutton.h"

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
    if (!image)
        return;
    // A picture button is pressed by the keyboard and screen readers as well as by clicks.
    if (auto* button = qobject_cast<PictureButton*>(image)) {
        QObject::connect(button, &PictureButton::clicked, button, [action = std::move(action)] {
            // A copy: the action may end in the button being unloaded.
            const std::function<void()> run = action;
            run();
        });
        return;
    }
    image->installEventFilter(new ImageClickFilter(image, std::move(action)));
}

} // namespace tellaran
