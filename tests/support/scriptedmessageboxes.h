#pragma once

#include "engine/messageboxservice.h"

#include <QList>
#include <QString>
#include <deque>
#include <functional>

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
        // Closed by its owner rather than answered.
        bool closedByOwner = false;
    };

    BoxAnswer show(const QString& text, const QString& title, BoxIcon icon,
                   BoxButtons buttons) override;
    BoxAnswer showClosable(const QString& text, const QString& title, BoxIcon icon,
                           BoxButtons buttons, const void* owner) override;
    void closeBoxes(const void* owner) override;

    // Queues the answers for the next boxes, in order.
    void answerNext(BoxAnswer answer) { script_.push_back(answer); }
    // The next box stays open, running the event loop as a modal box does, until `done`
    // holds (checked after every batch of events) or its owner closes it; it is then
    // answered from the script.
    void holdNextOpen(std::function<bool()> done) { hold_ = std::move(done); }
    // How many boxes are open now.
    int openCount() const { return open_; }

    const QList<Box>& boxes() const { return boxes_; }
    QStringList texts() const;
    void clear() { boxes_.clear(); }

private:
    std::deque<BoxAnswer> script_;
    QList<Box> boxes_;
    std::function<bool()> hold_;
    int open_ = 0;
    // Owners whose open boxes are to close, one count per closeBoxes().
    QList<const void*> closing_;
};

} // namespace tellaran::testing
