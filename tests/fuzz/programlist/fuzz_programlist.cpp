// The program list read from any content: a rewrite keeps every entry as read; a deletion
// removes exactly the entries of that name; the path found for a name is that of its last
// entry; and a new entry goes in cleanly, also when the last line lacks its line end.
#include "engine/launcher/programlist.h"
#include "platform/datafile.h"
#include "tests/fuzz/programfolder.h"

using namespace tellaran;

namespace {

QByteArray written(const QList<ProgramEntry>& entries)
{
    QByteArray content;
    for (const ProgramEntry& e : entries)
        content +=
            datafile::encodeRecord({datafile::encodeText(e.name), datafile::encodeText(e.path)});
    return content;
}

QList<ProgramEntry> load(const ProgramListFile& list)
{
    QList<ProgramEntry> entries;
    FUZZ_CHECK(list.LoadProgramList(&entries));
    return entries;
}

} // namespace

int fuzzOne(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput input(data, size);
    const bool lastLineEndLost = input.takeBool();
    ProgramEntry added{input.takeShort(), input.takeShort()};
    const QByteArray content = input.takeRest();
    const ProgramListFile list(fuzz::programFolder());

    fuzz::writeFile(list.path(), content);
    const QList<ProgramEntry> entries = load(list);

    // No entry can have this name, so the rewrite keeps them all.
    int removed = -1;
    FUZZ_CHECK(list.DeleteProgramsNamed("\"", &removed));
    FUZZ_CHECK(removed == 0);
    FUZZ_CHECK(load(list) == entries);
    FUZZ_CHECK(fuzz::readFile(list.path()) == written(entries));

    if (!entries.isEmpty()) {
        const QByteArray name = entries.first().name;
        std::optional<QByteArray> found;
        FUZZ_CHECK(list.FindProgramPath(name, &found));
        const auto last = std::find_if(entries.rbegin(), entries.rend(),
                                       [&](const ProgramEntry& e) { return e.name == name; });
        FUZZ_CHECK(found == last->path);

        QList<ProgramEntry> kept = entries;
        const qsizetype named =
            kept.removeIf([&](const ProgramEntry& e) { return e.name == name; });
        FUZZ_CHECK(list.DeleteProgramsNamed(name, &removed));
        FUZZ_CHECK(removed == named);
        FUZZ_CHECK(load(list) == kept);
    }

    // An entry that could not be read back is refused and changes nothing; any other goes in.
    QByteArray asWritten = written(entries);
    if (lastLineEndLost)
        asWritten.chop(2);
    fuzz::writeFile(list.path(), asWritten);
    QString problem;
    if (!ProgramEntryProblem(added).isEmpty()) {
        FUZZ_CHECK(!list.AppendProgram(added, &problem));
        FUZZ_CHECK(fuzz::readFile(list.path()) == asWritten);
        added.name.replace('"', "").replace('\r', "").replace('\n', "");
        added.path.replace('"', "").replace('\r', "").replace('\n', "");
    }
    FUZZ_CHECK(list.AppendProgram(added, &problem));
    FUZZ_CHECK(load(list) == entries + QList<ProgramEntry>{added});
    return 0;
}
