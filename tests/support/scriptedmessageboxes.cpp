#include "tests/support/scriptedmessageboxes.h"

namespace tellaran::testing {

BoxAnswer ScriptedMessageBoxes::show(const QString& text, const QString& title, BoxIcon icon,
                                     BoxButtons buttons)
{
    BoxAnswer answer = BoxAnswer::Ok;
    if (!script_.empty()) {
        answer = script_.front();
        script_.pop_front();
    } else if (buttons == BoxButtons::YesNo) {
        answer = BoxAnswer::Yes;
    } else if (buttons == BoxButtons::RetryCancel) {
        answer = BoxAnswer::Retry;
    }
    boxes_.append(Box{text, title, icon, buttons, answer});
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
