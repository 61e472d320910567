#pragma once

#include "platform/commandline.h"

#include <QString>
#include <QStringList>

namespace tellaran {

// What the engine was asked on its command line.
struct EngineCommandLine
{
    // --help, --version and errors: the program ends with this outcome.
    commandline::Outcome outcome;
    // --ports: print the port map and end.
    bool ports = false;
    // --log [FILE]: the troubleshooting log on, to FILE or else the standard error stream.
    bool log = false;
    QString logFile;
};

// The arguments, the program's name first. Needs a QCoreApplication.
EngineCommandLine ParseEngineCommandLine(QStringList arguments);

} // namespace tellaran
