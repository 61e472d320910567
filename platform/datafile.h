#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The one format of all data files: single-byte text, one record a line ended by CR LF,
// values separated by commas, text values in double quotes without escaping, Booleans as
// #TRUE# / #FALSE#, numbers bare. Values are identified by position only.
namespace tellaran::datafile {

struct Value
{
    enum Kind
    {
        Text,
        Number,
        Boolean
    };
    Kind kind = Text;
    // Text: the characters between the quotes (empty for an empty field). Number: the bare
    // token, never empty, without the blanks around it and without double quotes.
    // Boolean: "#TRUE#" or "#FALSE#".
    QByteArray text;

    bool isTrue() const { return kind == Boolean && text == "#TRUE#"; }
    bool operator==(const Value&) const = default;
    static Value makeText(const QByteArray& characters) { return {Text, characters}; }
};

// Reads every value of a file's content, in order. A value that begins with a double quote
// runs to the next double quote; "#TRUE#" and "#FALSE#" are Booleans; anything else runs to
// the next comma or line end. Blanks (space, tab, vertical tab, form feed) before a value are
// skipped, and so are empty lines. Never fails: damaged input gives whatever values can be
// taken from it, and every value it gives, written back with encode() and encodeRecord(),
// reads back the same.
QList<Value> readValues(const QByteArray& content);

// The leading decimal number of a text after skipping blanks (with an optional sign);
// 0 when there is none. Saturates instead of overflowing.
qint64 numericValue(const QByteArray& text);

QByteArray encodeText(const QByteArray& characters); // "abc"
QByteArray encodeNumberAsText(qint64 number);        // " 1" quoted: "\" 1\""
QByteArray encodeBoolean(bool value);                // #TRUE#
// A value in the encoding in which it was read.
QByteArray encode(const Value& value);
// One record: the values joined by commas, ended by CR LF.
QByteArray encodeRecord(const QList<QByteArray>& encodedValues);

// Reads a whole file. Returns false (and why in *error) when it cannot be opened or read.
bool readFile(const QString& path, QByteArray* content, QString* error = nullptr);
// Replaces a file's content through its temporary file: write and flush `tempPath`, then
// rename it over `path` in one step, so there is never a moment without the file and a
// crash leaves either the old or the new content. Returns false (and why in *error) when
// any step fails, the system's own words for the cause ("No space left on device"); the
// original is then untouched. Without `syncToDisk` the content is not
// forced to the disk first: for files that need not survive a crash of the computer.
bool rewriteFile(const QString& path, const QString& tempPath, const QByteArray& content,
                 QString* error = nullptr, bool syncToDisk = true);
// Appends bytes to a file, creating it when missing.
bool appendToFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The texts of a file of records of `valuesPerRecord` values each, taken by position; a last
// record that is short gets empty texts. A missing file has no records. Returns false (and
// why in *error) when the file exists but cannot be read.
bool readTextRecords(const QString& path, int valuesPerRecord, QList<QByteArrayList>* records,
                     QString* error = nullptr);
// Appends one record (ended by CR LF), creating the file when missing. A file whose last line
// lost its line end (edited by hand) gets one first, so the record keeps a line of its own.
// The record lands whole or not at all: the file is rewritten with it through `tempPath`, so
// a full disk or a crash leaves the file as it was.
bool appendRecord(const QString& path, const QString& tempPath, const QByteArray& record,
                  QString* error = nullptr);

} // namespace tellaran::datafile
