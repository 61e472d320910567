#include "engine/tellaranengine.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tellaran"));

    tellaran::TellaranEngine::Options options;
    options.programDir = QCoreApplication::applicationDirPath();
    tellaran::TellaranEngine engine(std::move(options));

    // Loading the status window starts the channel server, so local programs can connect
    // before any call exists.
    engine.statusWindow();

    QLabel window(QStringLiteral("Tellaran is running. Local programs can connect on port 6789."));
    window.setWindowTitle(QStringLiteral("Tellaran"));
    window.setMargin(24);
    window.show();
    return application.exec();
}
