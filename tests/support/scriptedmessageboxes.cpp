#include "tests/support/scriptedmessageboxes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <utility>

namespace tellaran::testing {

BoxAnswer ScriptedMessageBoxes::show(const QString& text, const QString& title, BoxIcon icon,
                                     BoxButtons buttons)
{
    return showClosable(text, title, icon, buttons, nullptr);
}

void ScriptedMessageBoxes::closeBoxes(const void* owner)
{
    if (owner && open_ > 0)
        closing_.append(owner);
}

BoxAnswer ScriptedMessageBoxes::showClosable(const QString& text, const QString& title,
                                             BoxIcon icon, BoxButtons buttons, const void* owner)
{
    const qsizetype index = boxes_.size();
    boxes_.append(Box{text, title, icon, buttons, BoxAnswer::Ok});
    if (std::function<bool()> done = std::exchange(hold_, {})) {
        ++open_;
        QTimer wake; // the wait looks again at least this often
        wake.start(10);
        bool closed = false;
        while (!done()) {
            if (owner && closing_.removeOne(owner)) {
                closed = true;
                break;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        --open_;
        if (closed) {
            boxes_[index].closedByOwner = true;
            boxes_[index].answer = buttons == BoxButtons::YesNo         ? BoxAnswer::No
                                   : buttons == BoxButtons::RetryCancel ? BoxAnswer::Cancel
                                                                        : BoxAnswer::Ok;
            return boxes_[index].answer;
        }
    }
    BoxAnswer answer = BoxAnswer::Ok;
    if (!script_.empty()) {
        answer = script_.front();
        script_.pop_front();
    } else if (buttons == BoxButtons::YesNo) {
        answer = BoxAnswer::Yes;
    } else if (buttons == BoxButtons::RetryCancel) {
        answer = BoxAnswer::Retry;
    }
    boxes_[index].answer = answer;
    return answer;
}

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList result;
    for (const Box& box : boxes_)
        result.append(box.text);
    return result;
}

} // namespace tellaran::testing
