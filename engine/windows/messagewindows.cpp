#include "engine/windows/messagewindows.h"

#include "engine/windows/form9.h"

#include <QGuiApplication>
#include <QScreen>

namespace tellaran {

namespace {

constexpr int CascadeStep = 16;
constexpr int CascadeLength = 8;

} // namespace

MessageWindows::MessageWindows(std::function<void()> reply, QObject* parent)
    : QObject(parent), reply_(std::move(reply))
{}

MessageWindows::~MessageWindows()
{
    for (const QPointer<Form9>& window : std::as_const(windows_))
        delete window.data();
}

void MessageWindows::Show(const QByteArray& text)
{
    if (ending_)
        return;
    forgetClosed();
    if (!limit_.Admit(int(windows_.size()))) {
        windows_.last()->setDroppedNote(DroppedMessagesNote(limit_.dropped()));
        return;
    }
    auto* window = new Form9;
    window->message = ShownPartOfMessage(text);
    // Around the middle of the screen, each a little below and right of the one before, so
    // that none hides another completely and none covers the status bar in its corner.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const int offset = CascadeStep * int(windows_.size() % CascadeLength);
        window->move(screen->availableGeometry().center() - window->rect().center() +
                     QPoint(offset, offset));
    }
    connect(window, &Form9::replyRequested, this, [this] {
        if (!ending_)
            reply_();
    });
    windows_.append(window);
    window->show();
}

QList<Form9*> MessageWindows::windows() const
{
    QList<Form9*> open;
    for (const QPointer<Form9>& window : windows_) {
        if (window && window->isVisible())
            open.append(window.data());
    }
    return open;
}

void MessageWindows::shutDown()
{
    ending_ = true;
    for (const QPointer<Form9>& window : std::as_const(windows_)) {
        if (window) {
            window->Timer1.stop();
            window->hide();
        }
    }
}

// A closed window deletes itself; a hidden one (the window system closed it) no longer
// counts either.
void MessageWindows::forgetClosed()
{
    windows_.removeIf(
        [](const QPointer<Form9>& window) { return !window || !window->isVisible(); });
}

} // namespace tellaran
