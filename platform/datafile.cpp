#include "platform/datafile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace tellaran::datafile {

namespace {

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// The same set is skipped before a value and trimmed from a bare one, so that a bare value
// never begins with a double quote (it would read back as text) nor with a blank.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// A bare value: what stands up to the delimiter, without double quotes (none can be written
// back in any value) and without blanks around it. Never empty: it begins with a character
// that is neither a blank nor a quote.
QByteArray bareToken(QByteArrayView field)
{
    QByteArray token;
    token.reserve(field.size());
    for (const char c : field) {
        if (c != '"')
            token += c;
    }
    qsizetype end = token.size();
    while (end > 0 && isBlank(token[end - 1]))
        --end;
    token.truncate(end);
    return token;
}

} // namespace

QList<Value> readValues(const QByteArray& content)
{
    QList<Value> values;
    const qsizetype n = content.size();
    qsizetype i = 0;
    while (i < n) {
        // Skip blanks and empty lines before a value.
        while (i < n && (isBlank(content[i]) || isLineEnd(content[i])))
            ++i;
        if (i >= n)
            break;
        Value value;
        if (content[i] == '"') {
            const qsizetype close = content.indexOf('"', i + 1);
            const qsizetype end = close < 0 ? n : close;
            value = Value::makeText(content.mid(i + 1, end - i - 1));
            i = close < 0 ? n : close + 1;
            // Whatever stands between the closing quote and the delimiter is not part of it.
            while (i < n && content[i] != ',' && !isLineEnd(content[i]))
                ++i;
        } else if (content[i] == ',') {
            // Nothing between two commas: empty text, which is written back as "" and so
            // cannot vanish from a file of one value a line.
            value = Value::makeText(QByteArray());
        } else {
            qsizetype end = i;
            while (end < n && content[end] != ',' && !isLineEnd(content[end]))
                ++end;
            const QByteArray token = bareToken(QByteArrayView(content).sliced(i, end - i));
            if (token == "#TRUE#" || token == "#FALSE#")
                value = {Value::Boolean, token};
            else
                value = {Value::Number, token};
            i = end;
        }
        values.append(value);
        if (i < n && content[i] == ',')
            ++i; // the comma ends this value only; the next one may be empty
        else if (i < n && content[i] == '\r' && i + 1 < n && content[i + 1] == '\n')
            i += 2;
        else if (i < n)
            ++i;
    }
    return values;
}

qint64 numericValue(const QByteArray& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    qint64 result = 0;
    constexpr qint64 limit = std::numeric_limits<qint64>::max() / 10 - 10;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (result < limit)
            result = result * 10 + (text[i] - '0');
        ++i;
    }
    return negative ? -result : result;
}

QByteArray encodeText(const QByteArray& characters)
{
    return '"' + characters + '"';
}

QByteArray encodeNumberAsText(qint64 number)
{
    QByteArray digits = QByteArray::number(number);
    if (number >= 0)
        digits.prepend(' ');
    return encodeText(digits);
}

QByteArray encodeBoolean(bool value)
{
    return value ? QByteArrayLiteral("#TRUE#") : QByteArrayLiteral("#FALSE#");
}

QByteArray encode(const Value& value)
{
    return value.kind == Value::Text ? encodeText(value.text) : value.text;
}

QByteArray encodeRecord(const QList<QByteArray>& encodedValues)
{
    QByteArray line;
    for (qsizetype i = 0; i < encodedValues.size(); ++i) {
        if (i > 0)
            line += ',';
        line += encodedValues[i];
    }
    line += "\r\n";
    return line;
}

bool readFile(const QString& path, QByteArray* content, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    *content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

namespace {

QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

// Writes every byte, or says why not: a short write (a full disk, a file size limit) is an
// error with its own cause, not an unknown one.
bool writeAll(int fd, const QByteArray& bytes, int* number)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            *number = written < 0 ? errno : ENOSPC;
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

bool rewriteFile(const QString& path, const QString& tempPath, const QByteArray& content,
                 QString* error, bool syncToDisk)
{
    const QByteArray temp = QFile::encodeName(tempPath);
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (error)
            *error = systemError(errno);
        return false;
    }
    int number = 0;
    bool written = writeAll(fd, content, &number);
    if (written && syncToDisk && ::fsync(fd) != 0) {
        number = errno;
        written = false;
    }
    // Some file systems tell of a full disk only here.
    if (::close(fd) != 0 && written) {
        number = errno;
        written = false;
    }
    if (!written) {
        if (error)
            *error = systemError(number);
        ::unlink(temp.constData());
        return false;
    }
    // rename(2) replaces the original in one step.
    if (std::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        if (error)
            *error = systemError(errno);
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

bool appendToFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool readTextRecords(const QString& path, int valuesPerRecord, QList<QByteArrayList>* records,
                     QString* error)
{
    records->clear();
    if (!QFileInfo::exists(path))
        return true;
    QByteArray content;
    if (!readFile(path, &content, error))
        return false;
    const QList<Value> values = readValues(content);
    for (qsizetype i = 0; i < values.size(); i += valuesPerRecord) {
        QByteArrayList record;
        for (qsizetype k = i; k < i + valuesPerRecord; ++k)
            record.append(k < values.size() ? values[k].text : QByteArray());
        records->append(record);
    }
    return true;
}

bool appendRecord(const QString& path, const QString& tempPath, const QByteArray& record,
                  QString* error)
{
    QByteArray content;
    if (QFileInfo::exists(path) && !readFile(path, &content, error))
        return false;
    if (!content.isEmpty() && !content.endsWith('\n') && !content.endsWith('\r'))
        content += "\r\n";
    content += record;
    return rewriteFile(path, tempPath, content, error);
}

} // namespace tellaran::datafile
