#include "engine/enginerunguard.h"

#include "engine/calls/disconnectcall.h"
#include "engine/engine.h"
#include "engine/messageboxservice.h"
#include "platform/logging.h"
#include "platform/terminationsignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>

namespace tellaran {

namespace {

const QString AlreadyRunningText = QStringLiteral("Tellaran is already running from this folder");

} // namespace

EngineRunGuard::EngineRunGuard()
{
#ifdef __GLIBC__
    // Programs' buffers come and go by the megabyte. With fixed thresholds the big ones are
    // mapped and unmapped on their own, and freed memory goes back to the system, instead of
    // the allocator raising its thresholds and keeping tens of megabytes after a burst.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
#endif
}

EngineRunGuard::~EngineRunGuard() = default;

QString EngineRunGuard::lockFilePath(const QString& programDir)
{
    return programDir + QStringLiteral("/data/engine.lock");
}

bool EngineRunGuard::lockDataFolder(const QString& programDir, MessageBoxService& boxes)
{
    QDir().mkpath(programDir + QStringLiteral("/data"));
    auto lock = std::make_unique<QLockFile>(lockFilePath(programDir));
    // A lock left by an engine that crashed names a process that is gone: it is taken over
    // at once, however young.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        lock_ = std::move(lock);
        return true;
    }
    if (lock->error() == QLockFile::LockFailedError) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(AlreadyRunningText),
                     qPrintable(QDir::toNativeSeparators(programDir)));
        boxes.show(AlreadyRunningText, QString(), BoxIcon::Critical, BoxButtons::Ok);
        return false;
    }
    // A folder the lock cannot be written in: the data files cannot be either, and the
    // engine says so where it writes them. One engine per folder cannot be promised then.
    qCWarning(lcChannels).noquote() << "The lock file" << lockFilePath(programDir)
                                    << "cannot be written; another engine on this folder would "
                                       "not be noticed";
    return true;
}

void EngineRunGuard::endProgram()
{
    if (QThread::currentThread()->loopLevel() <= 1) {
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        return;
    }
    // Every window, socket and the port are closed already, and no file is kept open.
    lock_.reset();
    std::fflush(nullptr);
    std::_Exit(0);
}

void EngineRunGuard::endOnTerminationSignals(Engine& engine)
{
    // A file size limit then fails the write, with its cause, instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    signals_ = std::make_unique<TerminationSignals>();
    QObject::connect(signals_.get(), &TerminationSignals::received,
                     [&engine, ending = false](int signalNumber) mutable {
                         // A second signal while the first ends the call changes nothing.
                         if (ending)
                             return;
                         ending = true;
                         qCWarning(lcModem) << "Ending on signal" << signalNumber;
                         DisconnectWithoutAsking(engine);
                     });
}

} // namespace tellaran
