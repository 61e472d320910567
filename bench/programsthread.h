#pragma once

#include "bench/localprograms.h"

#include <QThread>
#include <functional>

namespace tellaran::bench {

// The local programs in a thread with its own event loop, so that the engines' thread does
// nothing but the engines' work.
class ProgramsThread
{
public:
    ProgramsThread();
    // Closes every program connection, then ends the thread.
    ~ProgramsThread();
    ProgramsThread(const ProgramsThread&) = delete;
    ProgramsThread& operator=(const ProgramsThread&) = delete;

    // Runs `work` on the programs in their thread, later; returns at once.
    void post(std::function<void(LocalPrograms&)> work);
    const ProgramReport& report() const { return report_; }

private:
    ProgramReport report_;
    QThread thread_;
    LocalPrograms* programs_;
};

} // namespace tellaran::bench
