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
// With `random`, the bytes are random rather than the payload pattern; neither ends a frame.
int Flood(const Target& target, int connections, qint64 bytesEach, int holdSeconds,
          bool random = false);
int Storm(const Target& target, int connections, const QByteArray& prefix, int registerDelaySeconds,
          int holdSeconds);
// Sends `count` payloads of `payloadSize` bytes, one every `intervalMs`, each carrying the
// moment it was sent (the monotonic clock, which every namespace of the computer shares).
int Ping(const Target& target, const QByteArray& dataId, int count, int intervalMs,
         int payloadSize);
// Takes `count` such payloads and prints the latencies: p50, p99 and the largest, in ms.
int Pong(const Target& target, const QByteArray& dataId, int count, int payloadSize,
         int timeoutSeconds);

// Sends tagged payloads of `payloadSize` bytes for `seconds`: one every `intervalMs`, or with
// 0 as fast as the engine takes them. Prints how many it sent.
int TaggedSend(const Target& target, const QByteArray& dataId, int seconds, int payloadSize,
               int intervalMs);
// Takes tagged payloads until none has come for `idleSeconds` (after the first), or for
// `timeoutSeconds` in all, and prints what came: whole, damaged, of a wrong DataID, and the
// last sequence number.
int TaggedReceive(const Target& target, const QByteArray& dataId, int idleSeconds,
                  int timeoutSeconds);
// Connects `connections` programs, `batch` at a time, each registering and closing again,
// each batch from a loopback address of its own. Prints the seconds it took.
int Churn(const Target& target, int connections, int batch);

} // namespace tellaran::load
