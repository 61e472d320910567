#include "platform/portmap.h"

#include "platform/datafile.h"

namespace tellaran::portmap {

namespace {

const QString modemPrefix = QStringLiteral("modem:");

} // namespace

bool parseDigits(const QString& text, int* value)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    *value = text.toInt(&ok);
    return ok;
}

QString PortTarget::text() const
{
    switch (kind) {
    case Device:
        return device;
    case VirtualModem: {
        QString text = modemPrefix + line;
        if (lineRate >= 0)
            text += QLatin1Char('@') + QString::number(lineRate);
        if (replyDelayMs > 0)
            text += QStringLiteral(" reply-delay=") + QString::number(replyDelayMs);
        if (!rejectedCommands.isEmpty())
            text += QStringLiteral(" reject=") + QString::fromLatin1(rejectedCommands.join(','));
        if (ignoreDtr)
            text += QStringLiteral(" ignore-dtr");
        return text;
    }
    case NoDevice:
        break;
    }
    return QString();
}

namespace {

bool parseModemOption(const QString& option, PortTarget* target)
{
    if (option == QLatin1String("ignore-dtr")) {
        target->ignoreDtr = true;
        return true;
    }
    const qsizetype equals = option.indexOf(QLatin1Char('='));
    const QString name = option.left(equals);
    const QString value = equals < 0 ? QString() : option.mid(equals + 1);
    if (name == QLatin1String("reply-delay"))
        return parseDigits(value, &target->replyDelayMs);
    if (name == QLatin1String("reject") && !value.isEmpty()) {
        for (const QString& command : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
            target->rejectedCommands.append(command.toLatin1());
        return !target->rejectedCommands.isEmpty();
    }
    return false;
}

} // namespace

bool parseTarget(const QString& text, PortTarget* target)
{
    if (text.isEmpty())
        return false;
    PortTarget result;
    if (!text.startsWith(modemPrefix)) {
        result.kind = PortTarget::Device;
        result.device = text;
        *target = result;
        return true;
    }
    result.kind = PortTarget::VirtualModem;
    // A line has no blanks; the options follow them.
    QStringList words = text.mid(modemPrefix.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return false;
    result.line = words.takeFirst();
    for (const QString& option : words) {
        if (!parseModemOption(option, &result))
            return false;
    }
    // The rate comes after the last '@', so a "host:port" line keeps its colon.
    const qsizetype at = result.line.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        if (!parseDigits(result.line.mid(at + 1), &result.lineRate))
            return false;
        result.line.truncate(at);
    }
    if (result.line.isEmpty())
        return false;
    *target = result;
    return true;
}

QList<PortMapRecord> readPortMap(const QByteArray& content)
{
    QList<PortMapRecord> records;
    // Record by record, one a line, so that a record with a value too many or too few
    // cannot shift the pairing of every record after it.
    for (const QByteArray& line : content.split('\n')) {
        const QList<datafile::Value> values = datafile::readValues(line);
        if (values.size() < 2 || values[0].kind != datafile::Value::Number ||
            values[1].kind != datafile::Value::Text)
            continue;
        int port = 0;
        if (!parseDigits(QString::fromLatin1(values[0].text), &port) || port < 1)
            continue;
        PortMapRecord record;
        record.port = port;
        if (!parseTarget(QString::fromLocal8Bit(values[1].text), &record.target))
            continue;
        records.append(record);
    }
    return records;
}

PortTarget defaultTarget(int port)
{
    PortTarget target;
    if (port >= 1) {
        target.kind = PortTarget::Device;
        target.device = QStringLiteral("/dev/ttyS") + QString::number(port - 1);
    }
    return target;
}

PortTarget resolvePort(const QList<PortMapRecord>& records, int port)
{
    for (const PortMapRecord& record : records) {
        if (record.port == port)
            return record.target;
    }
    return defaultTarget(port);
}

PortTarget resolvePortFromFile(const QString& mapFile, int port)
{
    QByteArray content;
    if (mapFile.isEmpty() || !datafile::readFile(mapFile, &content))
        return defaultTarget(port);
    return resolvePort(readPortMap(content), port);
}

} // namespace tellaran::portmap
