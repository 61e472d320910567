#include "engine/tellaranengine.h"

#include <QApplication>

int main(int argc, char* argv[])
{
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
