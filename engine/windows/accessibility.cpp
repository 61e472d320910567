#include "engine/windows/accessibility.h"

#include "engine/windows/picturebutton.h"

#include <QAccessibleWidget>

namespace tellaran {

namespace {

// Its role, its name (the accessible name, else its caption) and one action, press.
class PictureButtonAccessible : public QAccessibleWidget
{
public:
    explicit PictureButtonAccessible(PictureButton* button)
        : QAccessibleWidget(button, button->accessibleRole())
    {}

    // Read each time: a link or menu item says so after it was made.
    QAccessible::Role role() const override { return button()->accessibleRole(); }

    QString text(QAccessible::Text kind) const override
    {
        QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty())
            text = button()->text();
        return text;
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override
    {
        // Later, from the event loop, as a click would come: the press may unload the
        // window and, with it, this interface.
        if (name == pressAction())
            QMetaObject::invokeMethod(button(), &PictureButton::click, Qt::QueuedConnection);
        else
            QAccessibleWidget::doAction(name);
    }

private:
    PictureButton* button() const { return static_cast<PictureButton*>(widget()); }
};

// Asked for each class of an object from the most derived up, before Qt's own interfaces.
QAccessibleInterface* createAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("tellaran::PictureButton"))
        return new PictureButtonAccessible(static_cast<PictureButton*>(object));
    // The engine's windows are plain widgets, which Qt reports as a client area.
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget && widget->isWindow() && className.startsWith(QLatin1String("tellaran::")) &&
        widget->metaObject()->superClass() == &QWidget::staticMetaObject)
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

} // namespace

void InstallAccessibleInterfaces()
{
    // Qt's table of factories is the process's own; one entry serves every engine.
    static const bool installed = (QAccessible::installFactory(createAccessible), true);
    Q_UNUSED(installed);
}

} // namespace tellaran
