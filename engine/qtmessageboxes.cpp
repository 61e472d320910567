#include "engine/qtmessageboxes.h"

#include <QApplication>
#include <QMessageBox>

namespace tellaran {

BoxAnswer QtMessageBoxes::show(const QString& text, const QString& title, BoxIcon icon,
                               BoxButtons buttons)
{
    return showClosable(text, title, icon, buttons, nullptr);
}

void QtMessageBoxes::closeBoxes(const void* owner)
{
    for (const OpenBox& open : std::as_const(open_)) {
        if (open.owner == owner && open.box)
            open.box->reject();
    }
}

BoxAnswer QtMessageBoxes::showClosable(const QString& text, const QString& title, BoxIcon icon,
                                       BoxButtons buttons, const void* owner)
{
    QMessageBox box;
    box.setText(text);
    box.setWindowTitle(title.isEmpty() ? QApplication::applicationName() : title);
    switch (icon) {
    case BoxIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case BoxIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case BoxIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case BoxIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case BoxIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case BoxButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case BoxButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case BoxButtons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    }
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    if (owner)
        open_.append(OpenBox{owner, &box});
    const int chosen = box.exec();
    open_.removeIf([&box](const OpenBox& open) { return open.box == &box || !open.box; });
    switch (chosen) {
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    case QMessageBox::Retry:
        return BoxAnswer::Retry;
    case QMessageBox::Cancel:
        return BoxAnswer::Cancel;
    default:
        return buttons == BoxButtons::YesNo         ? BoxAnswer::No
               : buttons == BoxButtons::RetryCancel ? BoxAnswer::Cancel
                                                    : BoxAnswer::Ok;
    }
}

} // namespace tellaran
