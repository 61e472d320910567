#pragma once

#include "engine/windows/usermessages.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

namespace tellaran {

class Form9;

// The message windows of one engine: a new one for every message from the other computer,
// up to MessageWindowLimit::MaxOpen at once. A message past that is dropped, and the newest
// window counts the drops.
class MessageWindows : public QObject
{
    Q_OBJECT
public:
    // `reply` shows the send window (a right-button press on a message).
    explicit MessageWindows(std::function<void()> reply, QObject* parent = nullptr);
    ~MessageWindows() override;

    // Opens a message window for `text`, or counts it as dropped.
    void Show(const QByteArray& text);
    // The open windows, oldest first.
    QList<Form9*> windows() const;
    qint64 dropped() const { return limit_.dropped(); }
    // The program is ending: every window hides and stops.
    void shutDown();

private:
    void forgetClosed();

    std::function<void()> reply_;
    QList<QPointer<Form9>> windows_;
    MessageWindowLimit limit_;
    bool ending_ = false;
};

} // namespace tellaran
