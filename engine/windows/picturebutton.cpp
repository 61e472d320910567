#include "engine/windows/picturebutton.h"

#include "engine/windows/accessibility.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace tellaran {

PictureButton::PictureButton(QWidget* parent) : QLabel(parent)
{
    InstallAccessibleInterfaces();
    setFocusPolicy(Qt::StrongFocus);
    setTextFormat(Qt::PlainText);
}

void PictureButton::click()
{
    Q_EMIT clicked();
}

void PictureButton::mousePressEvent(QMouseEvent* event)
{
    // Taken, so that the release comes here; other buttons go on to whatever lies below.
    if (event->button() == Qt::LeftButton)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        click();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void PictureButton::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Select:
        event->accept();
        // A key held down presses once.
        if (!event->isAutoRepeat())
            click();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void PictureButton::focusInEvent(QFocusEvent* event)
{
    QLabel::focusInEvent(event);
    update();
}

void PictureButton::focusOutEvent(QFocusEvent* event)
{
    QLabel::focusOutEvent(event);
    update();
}

void PictureButton::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // The pictures have their own colours: a frame in the highlight colour with a light
    // line inside it stands out on dark and light pictures alike.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(QPen(palette().color(QPalette::HighlightedText), 1));
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
}

} // namespace tellaran
