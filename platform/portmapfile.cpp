#include "platform/portmapfile.h"

#include "platform/datafile.h"

#include <QFileInfo>

namespace tellaran::portmap {

namespace {

// The port a line is a record of, or 0: a whole number of 1 or more before its first
// comma, whatever follows.
int recordPort(const QByteArray& line)
{
    const QList<datafile::Value> values = datafile::readValues(line);
    int port = 0;
    if (values.isEmpty() || values[0].kind != datafile::Value::Number ||
        !parseDigits(QString::fromLatin1(values[0].text), &port))
        return 0;
    return port;
}

QByteArray encodedRecord(int port, const PortTarget& target)
{
    return datafile::encodeRecord(
        {QByteArray::number(port), datafile::encodeText(target.text().toLocal8Bit())});
}

} // namespace

QByteArray withPortRecord(const QByteArray& content, int port, const PortTarget& target)
{
    QByteArray result;
    bool written = false;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        end = end < 0 ? content.size() : end + 1;
        const QByteArray line = content.mid(start, end - start);
        start = end;
        if (recordPort(line) != port) {
            result += line;
            continue;
        }
        if (!written)
            result += encodedRecord(port, target);
        written = true;
    }
    if (!written) {
        if (!result.isEmpty() && !result.endsWith('\n'))
            result += "\r\n";
        result += encodedRecord(port, target);
    }
    return result;
}

bool isWritableTarget(const PortTarget& target)
{
    const QString text = target.text();
    return target.kind != PortTarget::NoDevice && !text.isEmpty() &&
           !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\r')) &&
           !text.contains(QLatin1Char('\n'));
}

bool writePortRecord(const QString& mapFile, int port, const PortTarget& target, QString* error)
{
    if (port < 1 || !isWritableTarget(target)) {
        if (error)
            *error = port < 1
                         ? QStringLiteral("the port number must be 1 or more")
                         : QStringLiteral("the port map cannot hold \"%1\"").arg(target.text());
        return false;
    }
    QByteArray content;
    if (QFileInfo::exists(mapFile) && !datafile::readFile(mapFile, &content, error))
        return false;
    const QString tempFile = QFileInfo(mapFile).absolutePath() + QStringLiteral("/portstemp.dat");
    return datafile::rewriteFile(mapFile, tempFile, withPortRecord(content, port, target), error);
}

} // namespace tellaran::portmap
