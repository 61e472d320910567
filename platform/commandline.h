#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

// The options every program takes: --help, --version, and a clear refusal of anything it does
// not know.
namespace tellaran::commandline {

// A program with unknown options or arguments ends with this code.
inline constexpr int UsageError = 2;

struct Outcome
{
    // Whether the program ends here, with exitCode, after printing output (to the standard
    // output) and error (to the standard error stream).
    bool finished = false;
    int exitCode = 0;
    QString output;
    QString error;
};

// The arguments without the options that Qt's own application object takes (-platform,
// -style, -geometry, -reverse, ...), which reach the program too.
QStringList withoutQtOptions(const QStringList& arguments);

// Adds --help and --version to the parser and parses the arguments (the program's name
// first). Help, version and errors finish; anything else is left to the caller, with the
// parser holding what was given. Qt's own options are passed over. Needs a QCoreApplication for the
// program's name and version.
Outcome parse(QCommandLineParser& parser, const QStringList& arguments);

// An error about the command line in the usual form, with the hint to --help.
Outcome usageError(const QString& message);

// Prints an outcome's texts to the standard streams.
void print(const Outcome& outcome);

} // namespace tellaran::commandline
