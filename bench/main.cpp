// The relay benchmark: two engines in this process, joined by virtual modems, with raw TCP
// programs on both sides in a thread of their own. Prints "name value unit" lines.

#include "bench/relaybench.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // The engines' windows are never meant to be seen here.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return tellaran::bench::RelayBench().run();
}
