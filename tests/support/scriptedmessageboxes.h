#pragma once

#include "engine/messageboxservice.h"

#include <QList>
#include <QString>
#include <deque>

namespace tellaran::testing {

// Records every message box and answers it from a script. A box with no scripted answer
// gets the first button of its set (OK, Yes or Retry).
class ScriptedMessageBoxes : public MessageBoxService
{
public:
    struct Box
    {
        QString text;
        QString title;
        BoxIcon icon;
        BoxButtons buttons;
        BoxAnswer answer;
    };

    BoxAnswer show(const QString& text, const QString& title, BoxIcon icon,
                   BoxButtons buttons) override;

    // Queues the answers for the next boxes, in order.
    void answerNext(BoxAnswer answer) { script_.push_back(answer); }

    const QList<Box>& boxes() const { return boxes_; }
    QStringList texts() const;
    void clear() { boxes_.clear(); }

private:
    std::deque<BoxAnswer> script_;
    QList<Box> boxes_;
};

} // namespace tellaran::testing
