#include "engine/channels/channeltable.h"

#include "engine/engine.h"
#include "platform/datafile.h"
#include "platform/logging.h"

#include <QFile>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tellaran {

namespace {

const QString TableFile = QStringLiteral("requests.dat");
const QString TempFile = QStringLiteral("reqtemp.dat");
constexpr int RetryInterval = 500;

// Whether the process has run out of file descriptors.
bool outOfDescriptors()
{
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        return false;
    }
    return errno == EMFILE || errno == ENFILE;
}

} // namespace

ChannelTable::ChannelTable(Engine& engine) : engine_(engine)
{
    writeTimer_.setSingleShot(true);
    QObject::connect(&writeTimer_, &QTimer::timeout, &writeTimer_, [this] { writeFile(); });
}

ChannelTable::~ChannelTable() = default;

QString ChannelTable::filePath() const
{
    return engine_.dataPath(TableFile);
}

bool ChannelTable::IsStorableDataId(const QByteArray& dataId)
{
    return !dataId.contains('"') && !dataId.contains('\r') && !dataId.contains('\n');
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
    // At the load the file is emptied at once: nothing may find a stale table.
    writeTimer_.stop();
    deleted_ = false;
    writeFile();
}

void ChannelTable::Register(int index, const QByteArray& dataId)
{
    ++engine_.counters().noofchan;
    engine_.trafficCountersChanged();
    records_.append(ChannelRecord{index, dataId});
    scheduleWrite();
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
    if (dropped > 0)
        engine_.trafficCountersChanged();
    // Written even when nothing was dropped, which also repairs a file that missed a write.
    scheduleWrite();
    return dropped;
}

void ChannelTable::Delete()
{
    // A write still to come would bring the file back.
    writeTimer_.stop();
    deleted_ = true;
    QFile::remove(filePath());
}

// Every change made while the event loop handles one batch of events is written once, after
// the batch: a thousand programs closing at once cost one write, not a thousand. The records
// in memory, which routing uses, change at once.
void ChannelTable::scheduleWrite()
{
    if (!deleted_ && !writeTimer_.isActive())
        writeTimer_.start(0);
}

// The table lasts one call and is emptied at every start, so a crash of the computer loses
// nothing of worth: it is replaced atomically, but not forced to the disk.
void ChannelTable::writeFile()
{
    if (deleted_)
        return;
    ++writes_;
    QString error;
    if (!datafile::rewriteFile(filePath(), engine_.dataPath(TempFile), fileContent(), &error,
                               false))
        reportWriteFailure(error);
}

void ChannelTable::reportWriteFailure(const QString& error)
{
    // With no descriptor left, a message box cannot even be drawn. The records in memory
    // stay right; the file is written again once descriptors come free.
    if (outOfDescriptors()) {
        if (!retrying_)
            qCWarning(lcChannels) << "The channel table cannot be written while the engine is "
                                     "out of file descriptors; trying again";
        retrying_ = true;
        writeTimer_.start(RetryInterval);
        return;
    }
    retrying_ = false;
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
