#pragma once

#include <QObject>
#include <array>
#include <signal.h>

class QSocketNotifier;

namespace tellaran {

// SIGTERM, SIGINT and SIGHUP (a logout, Ctrl+C, a closed terminal) brought into the event
// loop: the handler only writes the signal's number to a pipe, and received() is raised
// from the loop, where any Qt call is safe. While the object lives it replaces the default
// action of these signals, which ends the process on the spot, and gives back what was there
// before when it goes. Only one may live at a time.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Whether the handlers are in place (a pipe could be made, and no other object holds
    // them).
    bool isWatching() const { return notifier_ != nullptr; }

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPipe();

    int pipe_[2] = {-1, -1};
    // What the signals did before, given back at the end.
    std::array<struct sigaction, 3> previous_{};
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tellaran
