#pragma once

#include <QString>

namespace tellaran {

enum class BoxIcon
{
    None,
    Information,
    Warning,
    Critical,
    Question
};
enum class BoxButtons
{
    Ok,
    YesNo,
    RetryCancel
};
enum class BoxAnswer
{
    Ok,
    Yes,
    No,
    Retry,
    Cancel
};

// Every message box of the engine goes through this service, so that tests can answer them.
// A box given an empty title shows the program's own title.
class MessageBoxService
{
public:
    virtual ~MessageBoxService() = default;
    // Shows a modal box (a nested event loop runs while it is open) and returns the choice.
    virtual BoxAnswer show(const QString& text, const QString& title, BoxIcon icon,
                           BoxButtons buttons) = 0;
    // As show(), for a box that may stop applying while it is open (a failed call whose
    // modem connects after all): closeBoxes(owner) closes every open box of that owner,
    // whose show() then returns OK, No or Cancel, the answer that commits to nothing.
    virtual BoxAnswer showClosable(const QString& text, const QString& title, BoxIcon icon,
                                   BoxButtons buttons, const void* owner) = 0;
    virtual void closeBoxes(const void* owner) = 0;
};

} // namespace tellaran
