#pragma once

#include <QString>
#include <QStringList>

namespace tellaran {

// A command line taken apart: the program file to run and its arguments.
struct ProgramCommand
{
    QString program;
    QStringList arguments;
};

// Splits a command line into words the way a shell does: blanks separate words, '...' keeps
// everything literally, "..." keeps blanks (a backslash there escapes " and \), and a backslash
// elsewhere escapes the next character. Single quotes matter because the program list cannot
// hold a double quote. An unclosed quote runs to the end of the line.
QStringList SplitCommandLine(const QString& commandLine);

// Splits a command line (SplitCommandLine) and finds its program file: an absolute file as
// it stands; a relative one in each of `folders` in turn, then (a bare name only) on PATH.
// Returns false when the line names no program or the file cannot be found.
bool ResolveCommandLine(const QString& commandLine, const QStringList& folders,
                        ProgramCommand* command);

// Starts the program of a command line (found as ResolveCommandLine finds it) as a separate
// process working in `workingFolder`, without waiting for it. Returns false when it could not
// be started at all (no such file, no permission, not executable); a program that starts and
// ends at once has started. *pid gets the new process's id.
bool StartCommandLine(const QString& commandLine, const QString& workingFolder,
                      const QStringList& folders, qint64* pid = nullptr);

} // namespace tellaran
