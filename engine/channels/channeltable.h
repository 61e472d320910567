#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

namespace tellaran {

class Engine;

// One registration: the Listener element that carries the connection and the DataID it
// registered.
struct ChannelRecord
{
    int index = 0;
    QByteArray dataId;

    bool operator==(const ChannelRecord&) const = default;
};

// Which local connection registered under which DataID, in order of registration.
//
// Look-ups use the records held in memory, which change at once. data/requests.dat is
// written for whoever reads it, in its fixed format (3,"CHAT0001" CR LF), once after each
// batch of changes (the changes made while the event loop handles one batch of events);
// it is replaced through data/reqtemp.dat and one atomic rename. A failed write leaves the records
// in memory correct and is reported once per run in a message box, shown from the event loop rather
// than inside the socket handler that caused it.
class ChannelTable
{
public:
    explicit ChannelTable(Engine& engine);
    ~ChannelTable();
    ChannelTable(const ChannelTable&) = delete;
    ChannelTable& operator=(const ChannelTable&) = delete;

    // Creates the file, or empties it, and forgets every record.
    void Reset();
    // Raises noofchan and appends the record.
    void Register(int index, const QByteArray& dataId);
    // The first record under `dataId` (compared exactly) whose connection `isConnected`
    // says is up.
    std::optional<int> LookUp(const QByteArray& dataId,
                              const std::function<bool(int index)>& isConnected) const;
    // Drops every record of connection `index`, lowering noofchan once for each, and
    // rewrites the file. Returns how many records were dropped.
    int Remove(int index);
    // Deletes the file; a missing file is fine.
    void Delete();

    const QList<ChannelRecord>& records() const { return records_; }
    QString filePath() const;
    // Whether a write failure has been reported in this run.
    bool failureReported() const { return failureReported_; }

    // The record as it stands in the file, ended by CR LF.
    static QByteArray encodeRecord(const ChannelRecord& record);
    // Whether the file can hold a DataID: it has no escape for a double quote, and a line
    // break would end the record.
    static bool IsStorableDataId(const QByteArray& dataId);

    // How often the file has been written.
    int writes() const { return writes_; }

private:
    void scheduleWrite();
    void writeFile();
    QByteArray fileContent() const;
    void reportWriteFailure(const QString& error);

    Engine& engine_;
    QList<ChannelRecord> records_;
    bool failureReported_ = false;
    // Writes the file once the current batch of events is handled, or a while after a
    // failure for want of file descriptors.
    QTimer writeTimer_;
    bool retrying_ = false;
    bool deleted_ = false;
    int writes_ = 0;
    // Context of the deferred failure box: destroyed with the table, which cancels it.
    QObject lifetime_;
};

} // namespace tellaran
