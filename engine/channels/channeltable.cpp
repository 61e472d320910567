#include "engine/channels/channeltable.h"

#include "engine/engine.h"
#include "platform/datafile.h"

#include <QFile>
#include <QTimer>

namespace tellaran {

namespace {

const QString TableFile = QStringLiteral("requests.dat");
const QString TempFile = QStringLiteral("reqtemp.dat");

} // namespace

ChannelTable::ChannelTable(Engine& engine) : engine_(engine) {}

ChannelTable::~ChannelTable() = default;

QString ChannelTable::filePath() const
{
    return engine_.dataPath(TableFile);
}

QByteArray ChannelTable::encodeRecord(const ChannelRecord& record)
{
    return datafile::encodeRecord(
        {QByteArray::number(record.index), datafile::encodeText(record.dataId)});
}

QByteArray ChannelTable::fileContent() const
{
    QByteArray content;
    for (const ChannelRecord& record : records_)
        content += encodeRecord(record);
    return content;
}

void ChannelTable::Reset()
{
    engine_.counters().noofchan -= records_.size();
    records_.clear();
    QString error;
    if (!datafile::rewriteFile(filePath(), engine_.dataPath(TempFile), QByteArray(), &error))
        reportWriteFailure(error);
}

void ChannelTable::Register(int index, const QByteArray& dataId)
{
    ++engine_.counters().noofchan;
    ChannelRecord record{index, dataId};
    records_.append(record);
    QString error;
    if (!datafile::appendToFile(filePath(), encodeRecord(record), &error))
        reportWriteFailure(error);
}

std::optional<int> ChannelTable::LookUp(const QByteArray& dataId,
                                        const std::function<bool(int index)>& isConnected) const
{
    for (const ChannelRecord& record : records_) {
        if (record.dataId == dataId && isConnected(record.index))
            return record.index;
    }
    return std::nullopt;
}

int ChannelTable::Remove(int index)
{
    const int dropped = int(
        records_.removeIf([index](const ChannelRecord& record) { return record.index == index; }));
    engine_.counters().noofchan -= dropped;
    // Rewritten even when nothing was dropped, which also repairs a file that missed an
    // earlier append.
    QString error;
    if (!datafile::rewriteFile(filePath(), engine_.dataPath(TempFile), fileContent(), &error))
        reportWriteFailure(error);
    return dropped;
}

void ChannelTable::Delete()
{
    QFile::remove(filePath());
}

void ChannelTable::reportWriteFailure(const QString& error)
{
    if (failureReported_)
        return;
    failureReported_ = true;
    const QString text = QStringLiteral("The channel table %1 could not be written: %2\n"
                                        "Local programs stay connected, but the file may not "
                                        "show them correctly.")
                             .arg(filePath(), error);
    Engine* engine = &engine_;
    QTimer::singleShot(0, &lifetime_, [engine, text] {
        engine->messageBoxes().show(text, QString(), BoxIcon::Warning, BoxButtons::Ok);
    });
}

} // namespace tellaran
