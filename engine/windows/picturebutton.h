#pragma once

#include <QAccessible>
#include <QLabel>

namespace tellaran {

// A picture (or a caption) that acts as a button: the close pictures, the key pad, the status
// window's buttons, the about box's "Exit". It stays a label, so it keeps its picture, its
// text and its place, and it is a real button besides: it takes the keyboard focus (Tab),
// Space and Enter press it, the focus shows as a frame, and a screen reader finds it as a
// button with its name and a press action.
class PictureButton : public QLabel
{
    Q_OBJECT
public:
    explicit PictureButton(QWidget* parent = nullptr);

    // What a screen reader calls it: a button unless set otherwise (a link, a menu item).
    QAccessible::Role accessibleRole() const { return role_; }
    void setAccessibleRole(QAccessible::Role role) { role_ = role; }

public Q_SLOTS:
    // As a left click does. The handler may unload the window: nothing here touches the
    // button after it.
    void click();

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QAccessible::Role role_ = QAccessible::Button;
};

} // namespace tellaran
