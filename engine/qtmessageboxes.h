#pragma once

#include "engine/messageboxservice.h"

#include <QList>
#include <QPointer>

class QMessageBox;

namespace tellaran {

// The production message boxes: modal QMessageBox, the program's own title when none is
// given.
class QtMessageBoxes : public MessageBoxService
{
public:
    BoxAnswer show(const QString& text, const QString& title, BoxIcon icon,
                   BoxButtons buttons) override;
    BoxAnswer showClosable(const QString& text, const QString& title, BoxIcon icon,
                           BoxButtons buttons, const void* owner) override;
    void closeBoxes(const void* owner) override;

private:
    struct OpenBox
    {
        const void* owner;
        QPointer<QMessageBox> box;
    };
    QList<OpenBox> open_;
};

} // namespace tellaran
