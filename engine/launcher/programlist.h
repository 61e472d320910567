#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace tellaran {

// One entry of the program list: the name the menu shows and the command line that starts
// the program (a program file, optionally followed by arguments).
struct ProgramEntry
{
    QByteArray name;
    QByteArray path;

    bool operator==(const ProgramEntry&) const = default;
};

// Why an entry cannot be stored so that it reads back the same (the file has no escape for a
// double quote, and a line end would split the record); empty when it can.
QString ProgramEntryProblem(const ProgramEntry& entry);

// The program list data/programs.dat below a program folder: one entry a line, the name and
// the command line as quoted values, in the order they were added. Names need not be unique;
// look-ups by name are exact and case-sensitive. Each operation opens, works on and closes the
// file before it returns. A missing file is an empty list.
class ProgramListFile
{
public:
    explicit ProgramListFile(const QString& programDir);

    QString path() const;
    QString tempPath() const;

    // The entries in file order. Returns false, with the reason in *error, when the file
    // exists but cannot be read.
    bool LoadProgramList(QList<ProgramEntry>* entries, QString* error = nullptr) const;
    // Appends one line, creating the file when it is missing. Refuses an entry that could not
    // be read back (nothing is written then).
    bool AppendProgram(const ProgramEntry& entry, QString* error = nullptr) const;
    // Removes every entry named `name`. The file is always rewritten, through
    // data/progtemp.dat and one atomic rename, even when nothing matched; a list that cannot
    // be read is never rewritten. On failure the list stays as it was.
    bool DeleteProgramsNamed(const QByteArray& name, int* removed = nullptr,
                             QString* error = nullptr) const;
    // The command line of the last entry named `name`, or nothing when none is. Returns false
    // when the list cannot be read.
    bool FindProgramPath(const QByteArray& name, std::optional<QByteArray>* path,
                         QString* error = nullptr) const;

private:
    QString programDir_;
};

} // namespace tellaran
