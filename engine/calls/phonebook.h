#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tellaran {

// One record of the phone book. Neither value may hold a double quote: the file has no
// escape for it.
struct PhoneEntry
{
    QByteArray name;
    QByteArray number;

    bool operator==(const PhoneEntry&) const = default;
};

// Width of a phone book list line: the name, blanks, then the number.
constexpr qsizetype BookLineWidth = 48;

// The list line of a record: the name, 48 minus both lengths in blanks (none when the two are
// 48 characters or longer together), then the number.
QByteArray FormatBookLine(const QByteArray& name, const QByteArray& number);

// Whether a record can be written so that it reads back the same.
bool IsStorablePhoneEntry(const PhoneEntry& entry);

// The phone book data/addresses.dat below a program folder: one record a line, the name and
// the number as quoted values, in the order they were added. Each operation opens, works on
// and closes the file before it returns; deletions rewrite it through data/addresstemp.dat
// and one atomic rename.
class PhoneBookFile
{
public:
    explicit PhoneBookFile(const QString& programDir);

    QString path() const;
    QString tempPath() const;

    // The records in file order. A missing file is an empty phone book. Returns false, with
    // the reason in *error, when the file exists but cannot be read.
    bool LoadPhoneBook(QList<PhoneEntry>* entries, QString* error = nullptr) const;
    // Appends a record, creating the file when it is missing. Refuses a record holding a
    // double quote.
    bool AddPhoneEntry(const PhoneEntry& entry, QString* error = nullptr) const;
    // Removes every record whose list line is exactly `selectedLine` (twins go together).
    // The file is rewritten only when something is removed; *removed tells how many.
    bool DeletePhoneEntries(const QByteArray& selectedLine, int* removed = nullptr,
                            QString* error = nullptr) const;

private:
    QString programDir_;
};

} // namespace tellaran
