#include "engine/tellaranengine.h"

#include <QApplication>
#include <sys/resource.h>

namespace {

// Every local program takes a descriptor; the system's default soft limit (often 1024) is far
// below what the channel server is meant to carry.
void raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    raiseOpenFileLimit();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tellaran"));
    // The engine decides when the program ends (a close picture, the disconnect, the line
    // dropping); hidden windows such as the status window live on between visible ones.
    QApplication::setQuitOnLastWindowClosed(false);

    tellaran::TellaranEngine::Options options;
    options.programDir = QCoreApplication::applicationDirPath();
    tellaran::TellaranEngine engine(std::move(options));
    engine.start();
    return application.exec();
}
