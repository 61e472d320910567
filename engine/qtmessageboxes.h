#pragma once

#include "engine/messageboxservice.h"

namespace tellaran {

// The production message boxes: modal QMessageBox, the program's own title when none is
// given.
class QtMessageBoxes : public MessageBoxService
{
public:
    BoxAnswer show(const QString& text, const QString& title, BoxIcon icon,
                   BoxButtons buttons) override;
};

} // namespace tellaran
