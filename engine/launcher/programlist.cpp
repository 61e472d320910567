#include "engine/launcher/programlist.h"

#include "platform/datafile.h"

namespace tellaran {

namespace {

QByteArray encodeEntry(const ProgramEntry& entry)
{
    return datafile::encodeRecord(
        {datafile::encodeText(entry.name), datafile::encodeText(entry.path)});
}

bool holdsUnstorable(const QByteArray& text)
{
    return text.contains('"') || text.contains('\r') || text.contains('\n');
}

} // namespace

QString ProgramEntryProblem(const ProgramEntry& entry)
{
    if (holdsUnstorable(entry.name))
        return QStringLiteral("A program name cannot contain a double quote (\") or a line break.");
    if (holdsUnstorable(entry.path))
        return QStringLiteral("A command line cannot contain a double quote (\") or a line break.");
    return {};
}

ProgramListFile::ProgramListFile(const QString& programDir) : programDir_(programDir) {}

QString ProgramListFile::path() const
{
    return programDir_ + QStringLiteral("/data/programs.dat");
}

QString ProgramListFile::tempPath() const
{
    return programDir_ + QStringLiteral("/data/progtemp.dat");
}

bool ProgramListFile::LoadProgramList(QList<ProgramEntry>* entries, QString* error) const
{
    entries->clear();
    QList<QByteArrayList> records;
    if (!datafile::readTextRecords(path(), 2, &records, error))
        return false;
    for (const QByteArrayList& record : records)
        entries->append({record[0], record[1]});
    return true;
}

bool ProgramListFile::AppendProgram(const ProgramEntry& entry, QString* error) const
{
    const QString problem = ProgramEntryProblem(entry);
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    return datafile::appendRecord(path(), tempPath(), encodeEntry(entry), error);
}

bool ProgramListFile::DeleteProgramsNamed(const QByteArray& name, int* removed,
                                          QString* error) const
{
    if (removed)
        *removed = 0;
    QList<ProgramEntry> entries;
    if (!LoadProgramList(&entries, error))
        return false;
    QByteArray kept;
    int count = 0;
    for (const ProgramEntry& entry : entries) {
        if (entry.name == name)
            ++count;
        else
            kept += encodeEntry(entry);
    }
    if (!datafile::rewriteFile(path(), tempPath(), kept, error))
        return false;
    if (removed)
        *removed = count;
    return true;
}

bool ProgramListFile::FindProgramPath(const QByteArray& name, std::optional<QByteArray>* found,
                                      QString* error) const
{
    found->reset();
    QList<ProgramEntry> entries;
    if (!LoadProgramList(&entries, error))
        return false;
    for (const ProgramEntry& entry : entries) {
        if (entry.name == name)
            *found = entry.path;
    }
    return true;
}

} // namespace tellaran
