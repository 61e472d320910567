#include "engine/calls/phonebook.h"

#include "platform/datafile.h"

#include <QFileInfo>

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
    if (!QFileInfo::exists(path()))
        return true;
    QByteArray content;
    if (!datafile::readFile(path(), &content, error))
        return false;
    // Two values a record; a last record missing its number has an empty one.
    const QList<datafile::Value> values = datafile::readValues(content);
    for (qsizetype i = 0; i < values.size(); i += 2) {
        PhoneEntry entry;
        entry.name = values[i].text;
        if (i + 1 < values.size())
            entry.number = values[i + 1].text;
        entries->append(entry);
    }
    return true;
}

bool PhoneBookFile::AddPhoneEntry(const PhoneEntry& entry, QString* error) const
{
    if (!IsStorablePhoneEntry(entry)) {
        if (error)
            *error = quoteError();
        return false;
    }
    QByteArray line = encodeEntry(entry);
    // A phone book edited by hand may lack its last line end; the new record must not run
    // into the last one.
    if (QFileInfo::exists(path())) {
        QByteArray content;
        if (!datafile::readFile(path(), &content, error))
            return false;
        if (!content.isEmpty() && !content.endsWith('\n') && !content.endsWith('\r'))
            line.prepend("\r\n");
    }
    return datafile::appendToFile(path(), line, error);
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
