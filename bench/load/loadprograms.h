#pragma once

#include <QByteArray>
#include <QString>

namespace tellaran::load {

// Where the engine's channel server listens.
struct Target
{
    QString host;
    quint16 port = 6789;
};

// Each runs its own event loop and returns the process's exit code.
int Receive(const Target& target, const QByteArray& dataId, qint64 bytes, int timeoutSeconds);
int Send(const Target& target, const QByteArray& dataId, qint64 bytes, int payloadSize);
int Flood(const Target& target, int connections, qint64 bytesEach, int holdSeconds);
int Storm(const Target& target, int connections, const QByteArray& prefix, int registerDelaySeconds,
          int holdSeconds);
// Sends `count` payloads of `payloadSize` bytes, one every `intervalMs`, each carrying the
// moment it was sent (the monotonic clock, which every namespace of the computer shares).
int Ping(const Target& target, const QByteArray& dataId, int count, int intervalMs,
         int payloadSize);
// Takes `count` such payloads and prints the latencies: p50, p99 and the largest, in ms.
int Pong(const Target& target, const QByteArray& dataId, int count, int payloadSize,
         int timeoutSeconds);

} // namespace tellaran::load
