#include "bench/localprograms.h"

#include "engine/link/frames.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <algorithm>
#include <cmath>

namespace tellaran::bench {

qint64 ProgramReport::totalSent() const
{
    qint64 total = 0;
    for (const Channel& channel : channels)
        total += channel.sent.load();
    return total;
}

qint64 ProgramReport::totalReceived() const
{
    qint64 total = 0;
    for (const Channel& channel : channels)
        total += channel.received.load();
    return total;
}

ProgramReport::Arrival ProgramReport::lastArrival() const
{
    const std::lock_guard lock(arrivalMutex_);
    return lastArrival_;
}

void ProgramReport::recordArrival(qint64 nanoseconds, qint64 bytes)
{
    const std::lock_guard lock(arrivalMutex_);
    lastArrival_.nanoseconds = nanoseconds;
    lastArrival_.totalReceived += bytes;
}

std::vector<double> ProgramReport::latenciesMs() const
{
    const std::lock_guard lock(latencyMutex_);
    return latenciesMs_;
}

void ProgramReport::addLatency(double ms)
{
    const std::lock_guard lock(latencyMutex_);
    latenciesMs_.push_back(ms);
}

LocalPrograms::LocalPrograms(ProgramReport& report) : report_(report)
{
    pingTimer_.setTimerType(Qt::PreciseTimer);
    pingTimer_.setSingleShot(true);
    connect(&pingTimer_, &QTimer::timeout, this, &LocalPrograms::sendPing);
    clock_.start();
}

LocalPrograms::~LocalPrograms() = default;

QTcpSocket* LocalPrograms::connectAndRegister(quint16 port, const QByteArray& dataId)
{
    auto* socket = new QTcpSocket;
    connect(socket, &QTcpSocket::connected, this, [this, socket, dataId] {
        // On its own, before any frame: the engine reads a registration from a block's start.
        socket->write(frames::registration(dataId));
        ++report_.registered;
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this] { ++report_.socketErrors; });
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket;
}

void LocalPrograms::open(quint16 sendingPort, quint16 receivingPort, int channels)
{
    for (int i = 0; i < channels && i < ProgramReport::MaxChannels; ++i) {
        auto channel = std::make_unique<Channel>();
        channel->dataId = "BENCH" + QByteArray::number(i + 1).rightJustified(3, '0');
        channel->pattern = PayloadPattern(0x5EED0000ULL + quint64(i));
        channel->sender.reset(connectAndRegister(sendingPort, channel->dataId));
        channel->receiver.reset(connectAndRegister(receivingPort, channel->dataId));
        connect(channel->receiver.get(), &QTcpSocket::readyRead, this,
                [this, i] { onReceived(i); });
        channels_.push_back(std::move(channel));
    }
}

void LocalPrograms::startStreaming(int first, int channels, int payloadSize, qint64 inFlight)
{
    firstStreaming_ = std::clamp<int>(first, 0, int(channels_.size()));
    streamingChannels_ = std::min<int>(channels, int(channels_.size()) - firstStreaming_);
    payloadSize_ = payloadSize;
    inFlight_ = inFlight;
    for (int i = firstStreaming_; i < firstStreaming_ + streamingChannels_; ++i)
        topUp(i);
}

void LocalPrograms::stopStreaming()
{
    streamingChannels_ = 0;
}

void LocalPrograms::send(int index, qsizetype size)
{
    Channel& channel = *channels_[size_t(index)];
    channel.sender->write(
        frames::channelFrame(channel.dataId, channel.pattern.bytesAt(channel.sent, size)));
    channel.sent += size;
    report_.channels[size_t(index)].sent = channel.sent;
}

void LocalPrograms::topUp(int index)
{
    if (index < firstStreaming_ || index >= firstStreaming_ + streamingChannels_)
        return;
    const Channel& channel = *channels_[size_t(index)];
    while (channel.sent - channel.received + payloadSize_ <= inFlight_)
        send(index, payloadSize_);
}

void LocalPrograms::onReceived(int index)
{
    Channel& channel = *channels_[size_t(index)];
    const QByteArray bytes = channel.receiver->readAll();
    if (bytes.isEmpty())
        return;
    if (!channel.pattern.matches(channel.received, bytes))
        ++report_.corruptReads;
    const qint64 now = clock_.nsecsElapsed();
    channel.received += bytes.size();
    report_.channels[size_t(index)].received = channel.received;
    report_.recordArrival(now, bytes.size());

    while (!channel.pings.empty() && channel.pings.front().first <= channel.received) {
        report_.addLatency(double(now - channel.pings.front().second) / 1e6);
        channel.pings.pop_front();
    }
    topUp(index);
}

void LocalPrograms::startPings(int channel, int intervalMs, int spreadMs, int payloadSize,
                               int count)
{
    if (channel < 0 || channel >= int(channels_.size()))
        return;
    pingChannel_ = channel;
    pingInterval_ = intervalMs;
    pingSpread_ = spreadMs;
    pingSize_ = payloadSize;
    pingCount_ = count;
    pingsSent_ = 0;
    pingsStartNs_ = clock_.nsecsElapsed();
    schedulePing();
}

void LocalPrograms::schedulePing()
{
    if (pingsSent_ >= pingCount_)
        return;
    // Ping k goes at k beats plus a fraction of the spread; the fractional parts of the
    // multiples of the golden ratio fill the spread evenly for any count.
    const int k = pingsSent_;
    const double fraction = std::fmod(k * 0.6180339887498949, 1.0);
    const qint64 offsetMs = qint64(k) * pingInterval_ + qint64(fraction * pingSpread_);
    const qint64 dueNs = pingsStartNs_ + offsetMs * 1'000'000;
    const qint64 waitMs = std::max<qint64>(0, (dueNs - clock_.nsecsElapsed()) / 1'000'000);
    pingTimer_.start(int(waitMs));
}

void LocalPrograms::sendPing()
{
    Channel& channel = *channels_[size_t(pingChannel_)];
    channel.pings.emplace_back(channel.sent + pingSize_, clock_.nsecsElapsed());
    send(pingChannel_, pingSize_);
    channel.sender->flush();
    ++pingsSent_;
    schedulePing();
}

void LocalPrograms::close()
{
    pingTimer_.stop();
    streamingChannels_ = 0;
    channels_.clear();
}

} // namespace tellaran::bench
