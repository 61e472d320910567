// The phone book read from any content: written back record by record it reads the same; a
// deletion removes exactly the records of the chosen line; and a new record goes in cleanly,
// also when the file's last line lacks its line end (as after editing it by hand).
#include "engine/calls/phonebook.h"
#include "platform/datafile.h"
#include "tests/fuzz/programfolder.h"

using namespace tellaran;

namespace {

QByteArray written(const QList<PhoneEntry>& entries)
{
    QByteArray content;
    for (const PhoneEntry& e : entries)
        content +=
            datafile::encodeRecord({datafile::encodeText(e.name), datafile::encodeText(e.number)});
    return content;
}

QList<PhoneEntry> load(const PhoneBookFile& book)
{
    QList<PhoneEntry> entries;
    FUZZ_CHECK(book.LoadPhoneBook(&entries));
    return entries;
}

} // namespace

int fuzzOne(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput input(data, size);
    const bool lastLineEndLost = input.takeBool();
    const PhoneEntry added{input.takeShort().replace('"', ""), input.takeShort().replace('"', "")};
    const QByteArray content = input.takeRest();
    const PhoneBookFile book(fuzz::programFolder());

    fuzz::writeFile(book.path(), content);
    const QList<PhoneEntry> entries = load(book);
    for (const PhoneEntry& e : entries)
        FUZZ_CHECK(IsStorablePhoneEntry(e));

    // Rebuilt one "Add" at a time, the book reads the same.
    fuzz::writeFile(book.path(), QByteArray());
    for (const PhoneEntry& e : entries)
        FUZZ_CHECK(book.AddPhoneEntry(e));
    FUZZ_CHECK(load(book) == entries);
    FUZZ_CHECK(fuzz::readFile(book.path()) == written(entries));

    if (!entries.isEmpty()) {
        fuzz::writeFile(book.path(), content);
        const QByteArray line = FormatBookLine(entries.first().name, entries.first().number);
        QList<PhoneEntry> kept = entries;
        const qsizetype removed = kept.removeIf(
            [&](const PhoneEntry& e) { return FormatBookLine(e.name, e.number) == line; });
        int reported = 0;
        FUZZ_CHECK(book.DeletePhoneEntries(line, &reported));
        FUZZ_CHECK(reported == removed);
        FUZZ_CHECK(load(book) == kept);
    }

    // The book as the program writes it, and the same with its last line end lost.
    QByteArray handEdited = written(entries);
    if (lastLineEndLost)
        handEdited.chop(2);
    fuzz::writeFile(book.path(), handEdited);
    FUZZ_CHECK(book.AddPhoneEntry(added));
    FUZZ_CHECK(load(book) == entries + QList<PhoneEntry>{added});
    return 0;
}
