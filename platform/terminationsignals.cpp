#include "platform/terminationsignals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace tellaran {

namespace {

constexpr int Watched[] = {SIGTERM, SIGINT, SIGHUP};

// The handler can reach nothing but this: the write end of the active object's pipe.
std::atomic<int> activeWriteEnd{-1};

extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = activeWriteEnd.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a signal the loop has yet to read.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (activeWriteEnd.load() >= 0 || ::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    activeWriteEnd.store(pipe_[1]);
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    struct sigaction action
    {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(Watched); ++i)
        ::sigaction(Watched[i], &action, &previous_[i]);
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_)
        return;
    for (std::size_t i = 0; i < std::size(Watched); ++i)
        ::sigaction(Watched[i], &previous_[i], nullptr);
    activeWriteEnd.store(-1);
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TerminationSignals::readPipe()
{
    unsigned char byte = 0;
    while (::read(pipe_[0], &byte, 1) == 1)
        Q_EMIT received(byte);
}

} // namespace tellaran
