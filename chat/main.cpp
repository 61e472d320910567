#include "chat/chatprogram.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Yarnit"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/chat/yarnit.svg")));
    // The program ends only through its own rules: closing the chat window, or cancelling the
    // nickname window before the chat was shown.
    QApplication::setQuitOnLastWindowClosed(false);

    yarnit::ChatProgram program(QCoreApplication::applicationDirPath());
    program.Start();
    return app.exec();
}
