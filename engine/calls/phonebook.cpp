#include "engine/calls/phonebook.h"

#include "platform/datafile.h"

namespace tellaran {

namespace {

QByteArray encodeEntry(const PhoneEntry& entry)
{
    return datafile::encodeRecord(
        {datafile::encodeText(entry.name), datafile::encodeText(entry.number)});
}

QString quoteError()
{
    return QStringLiteral("a name or number cannot contain a double quote");
}

} // namespace

QByteArray FormatBookLine(const QByteArray& name, const QByteArray& number)
{
    const qsizetype blanks = std::max<qsizetype>(0, BookLineWidth - name.size() - number.size());
    return name + QByteArray(blanks, ' ') + number;
}

bool IsStorablePhoneEntry(const PhoneEntry& entry)
{
    return !entry.name.contains('"') && !entry.number.contains('"');
}

PhoneBookFile::PhoneBookFile(const QString& programDir) : programDir_(programDir) {}

QString PhoneBookFile::path() const
{
    return programDir_ + QStringLiteral("/data/addresses.dat");
}

QString PhoneBookFile::tempPath() const
{
    return programDir_ + QStringLiteral("/data/addresstemp.dat");
}

bool PhoneBookFile::LoadPhoneBook(QList<PhoneEntry>* entries, QString* error) const
{
    entries->clear();
    QList<QByteArrayList> records;
    if (!datafile::readTextRecords(path(), 2, &records, error))
        return false;
    for (const QByteArrayList& record : records)
        entries->append({record[0], record[1]});
    return true;
}

bool PhoneBookFile::AddPhoneEntry(const PhoneEntry& entry, QString* error) const
{
    if (!IsStorablePhoneEntry(entry)) {
        if (error)
            *error = quoteError();
        return false;
    }
    return datafile::appendRecord(path(), tempPath(), encodeEntry(entry), error);
}

bool PhoneBookFile::DeletePhoneEntries(const QByteArray& selectedLine, int* removed,
                                       QString* error) const
{
    if (removed)
        *removed = 0;
    QList<PhoneEntry> entries;
    if (!LoadPhoneBook(&entries, error))
        return false;
    QByteArray kept;
    int count = 0;
    for (const PhoneEntry& entry : entries) {
        if (FormatBookLine(entry.name, entry.number) == selectedLine)
            ++count;
        else
            kept += encodeEntry(entry);
    }
    if (count == 0)
        return true;
    if (!datafile::rewriteFile(path(), tempPath(), kept, error))
        return false;
    if (removed)
        *removed = count;
    return true;
}

} // namespace tellaran
