#pragma once

#include "bench/payloadpattern.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class QTcpSocket;

namespace tellaran::bench {

// What the local programs report, safe to read from the engines' thread while they run.
struct ProgramReport
{
    static constexpr int MaxChannels = 8;
    struct Channel
    {
        // Payload bytes handed to the sending engine and checked at arrival on the other.
        std::atomic<qint64> sent{0};
        std::atomic<qint64> received{0};
    };
    std::array<Channel, MaxChannels> channels;
    // Sockets up and registered.
    std::atomic<int> registered{0};
    // Reads whose bytes were not the channel's stream at that offset.
    std::atomic<int> corruptReads{0};
    std::atomic<int> socketErrors{0};

    qint64 totalSent() const;
    qint64 totalReceived() const;

    // The last read of any receiver: when it came (on the programs' clock) and the total
    // received with it. Payloads arrive whole, so rates are taken between two arrivals.
    struct Arrival
    {
        qint64 nanoseconds = 0;
        qint64 totalReceived = 0;
    };
    Arrival lastArrival() const;
    void recordArrival(qint64 nanoseconds, qint64 bytes);

    // Program-to-program times of the pings, in milliseconds.
    std::vector<double> latenciesMs() const;
    void addLatency(double ms);

private:
    mutable std::mutex arrivalMutex_;
    Arrival lastArrival_;
    mutable std::mutex latencyMutex_;
    std::vector<double> latenciesMs_;
};

// The local programs of a benchmark: for each channel, a raw TCP sender on one engine and a
// raw TCP receiver on the other, registered under the same DataID. They live in a thread of
// their own; every public function here runs in that thread (invoke it queued).
class LocalPrograms : public QObject
{
    Q_OBJECT
public:
    explicit LocalPrograms(ProgramReport& report);
    ~LocalPrograms() override;

    // Connects `channels` pairs and registers "BENCH001", "BENCH002", ...
    void open(quint16 sendingPort, quint16 receivingPort, int channels);
    // Streams `payloadSize`-byte payloads on `channels` channels from `first` on, keeping at
    // most `inFlight` payload bytes per channel sent but not yet received.
    void startStreaming(int first, int channels, int payloadSize, qint64 inFlight);
    void stopStreaming();
    // Sends `count` payloads of `payloadSize` bytes on channel `channel`, one every
    // `intervalMs` on average, and times each from its send to its last byte's arrival. The
    // sends are staggered so that they fall evenly across `spreadMs`: a sender with a fixed
    // beat would meet a periodic relay always at the same phase and measure only that.
    void startPings(int channel, int intervalMs, int spreadMs, int payloadSize, int count);
    void close();

private:
    struct Channel
    {
        QByteArray dataId;
        PayloadPattern pattern;
        std::unique_ptr<QTcpSocket> sender;
        std::unique_ptr<QTcpSocket> receiver;
        qint64 sent = 0;
        qint64 received = 0;
        // Stream offsets where pings end, with the time each was sent.
        std::deque<std::pair<qint64, qint64>> pings;
    };

    QTcpSocket* connectAndRegister(quint16 port, const QByteArray& dataId);
    void send(int index, qsizetype size);
    void topUp(int index);
    void onReceived(int index);
    void sendPing();
    void schedulePing();

    ProgramReport& report_;
    std::vector<std::unique_ptr<Channel>> channels_;
    int firstStreaming_ = 0;
    int streamingChannels_ = 0;
    int payloadSize_ = 0;
    qint64 inFlight_ = 0;
    // A child, so that it moves to the programs' thread with this object.
    QTimer pingTimer_{this};
    int pingChannel_ = 0;
    int pingInterval_ = 0;
    int pingSpread_ = 0;
    int pingSize_ = 0;
    int pingCount_ = 0;
    int pingsSent_ = 0;
    qint64 pingsStartNs_ = 0;
    QElapsedTimer clock_;
};

} // namespace tellaran::bench
