#include "engine/windows/productlink.h"

#include "engine/engine.h"
#include "engine/windows/imageclick.h"
#include "engine/windows/picturebutton.h"
#include "engine/windows/windowhelpers.h"

#include <QLabel>

namespace tellaran {

QString ProductAddress(const Engine& engine)
{
    return engine.helpFile();
}

void MakeProductLink(QLabel* label, const Engine& engine)
{
    label->setCursor(Qt::PointingHandCursor);
    label->setToolTip(ProductAddress(engine));
    if (auto* link = qobject_cast<PictureButton*>(label))
        link->setAccessibleRole(QAccessible::Link);
    const Engine* owner = &engine;
    OnImageClick(label, [owner] { OpenDocument(ProductAddress(*owner)); });
}

} // namespace tellaran
