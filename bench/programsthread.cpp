#include "bench/programsthread.h"

namespace tellaran::bench {

ProgramsThread::ProgramsThread() : programs_(new LocalPrograms(report_))
{
    thread_.setObjectName(QStringLiteral("local programs"));
    programs_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, programs_, &QObject::deleteLater);
    thread_.start();
}

ProgramsThread::~ProgramsThread()
{
    LocalPrograms* programs = programs_;
    QMetaObject::invokeMethod(
        programs, [programs] { programs->close(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void ProgramsThread::post(std::function<void(LocalPrograms&)> work)
{
    LocalPrograms* programs = programs_;
    QMetaObject::invokeMethod(
        programs, [programs, work = std::move(work)] { work(*programs); }, Qt::QueuedConnection);
}

} // namespace tellaran::bench
