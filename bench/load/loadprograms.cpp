#include "bench/load/loadprograms.h"

#include "bench/load/taggedpayloads.h"
#include "bench/payloadpattern.h"
#include "engine/link/frames.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tellaran::load {

namespace {

void print(const char* name, double value, const char* unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

std::unique_ptr<QTcpSocket> connectTo(const Target& target)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(target.host, target.port);
    return socket;
}

// A DataID of exactly eight characters: the prefix, then the number, zero-padded.
QByteArray numberedId(const QByteArray& prefix, int number)
{
    QByteArray digits = QByteArray::number(number);
    const qsizetype width = frames::DataIdLength - prefix.size();
    return prefix.left(frames::DataIdLength) +
           digits.rightJustified(std::max<qsizetype>(0, width), '0')
               .right(std::max<qsizetype>(0, width));
}

// Quits the loop after `seconds` (never for 0).
void endAfter(int seconds)
{
    if (seconds > 0)
        QTimer::singleShot(seconds * 1000, qApp, [] { QCoreApplication::exit(0); });
}

qint64 monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    const auto rank = std::size_t(std::ceil(fraction * double(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

} // namespace

int Receive(const Target& target, const QByteArray& dataId, qint64 bytes, int timeoutSeconds)
{
    const bench::PayloadPattern pattern;
    auto socket = connectTo(target);
    qint64 received = 0;
    QElapsedTimer clock;
    QObject::connect(socket.get(), &QTcpSocket::connected,
                     [&] { socket->write(frames::registration(dataId)); });
    qint64 firstBlock = 0;
    QObject::connect(socket.get(), &QTcpSocket::readyRead, [&] {
        const QByteArray block = socket->readAll();
        if (received == 0) {
            clock.start();
            firstBlock = block.size();
        }
        if (!pattern.matches(received, block)) {
            std::fprintf(stderr, "wrong bytes at offset %lld\n", received);
            QCoreApplication::exit(1);
            return;
        }
        received += block.size();
        if (received >= bytes) {
            const double seconds = double(clock.nsecsElapsed()) / 1e9;
            print("received_mb", double(received) / 1e6, "MB");
            print("receive_seconds", seconds, "s");
            // From the first block's arrival to the last: the first block's bytes came before.
            if (seconds > 0)
                print("receive_bytes_per_second", double(received - firstBlock) / seconds, "B/s");
            QCoreApplication::exit(received == bytes ? 0 : 1);
        }
    });
    QObject::connect(socket.get(), &QTcpSocket::disconnected, [] {
        std::fprintf(stderr, "the engine closed the connection\n");
        QCoreApplication::exit(1);
    });
    QTimer::singleShot(timeoutSeconds * 1000, qApp, [&] {
        std::fprintf(stderr, "timed out with %lld of %lld bytes\n", received, bytes);
        QCoreApplication::exit(1);
    });
    return QCoreApplication::exec();
}

int Send(const Target& target, const QByteArray& dataId, qint64 bytes, int payloadSize)
{
    const bench::PayloadPattern pattern;
    auto socket = connectTo(target);
    qint64 sent = 0;
    QElapsedTimer clock;
    // Keeps a few payloads in the socket's buffer; the engine's flow control decides the pace.
    const auto refill = [&] {
        while (sent < bytes && socket->bytesToWrite() < 4 * payloadSize) {
            const qsizetype size = qsizetype(std::min<qint64>(payloadSize, bytes - sent));
            socket->write(frames::channelFrame(dataId, pattern.bytesAt(sent, size)));
            sent += size;
        }
        if (sent >= bytes && socket->bytesToWrite() == 0 &&
            socket->state() == QAbstractSocket::ConnectedState) {
            print("sent_mb", double(sent) / 1e6, "MB");
            print("send_seconds", double(clock.elapsed()) / 1000, "s");
            // A close, not a reset: a reset would throw away what the engine has not read yet.
            socket->disconnectFromHost();
        }
    };
    QObject::connect(socket.get(), &QTcpSocket::disconnected, [] { QCoreApplication::exit(0); });
    QObject::connect(socket.get(), &QTcpSocket::connected, [&] {
        clock.start();
        socket->write(frames::registration(dataId));
        refill();
    });
    QObject::connect(socket.get(), &QTcpSocket::bytesWritten, refill);
    QObject::connect(socket.get(), &QTcpSocket::errorOccurred, [&] {
        if (sent >= bytes && socket->bytesToWrite() == 0)
            return; // the engine closing after the last byte
        std::fprintf(stderr, "send: %s\n", qPrintable(socket->errorString()));
        QCoreApplication::exit(1);
    });
    return QCoreApplication::exec();
}

int Flood(const Target& target, int connections, qint64 bytesEach, int holdSeconds, bool random)
{
    const bench::PayloadPattern pattern;
    // Random bytes hold a "KvekEND" once in 2^56 positions: never, in practice.
    QByteArray noise;
    if (random) {
        noise.resize(1024 * 1024);
        for (char& c : noise)
            c = char(QRandomGenerator::global()->bounded(256));
    }
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    int closedByEngine = 0;
    for (int i = 0; i < connections; ++i) {
        sockets.push_back(connectTo(target));
        QTcpSocket* socket = sockets.back().get();
        auto sent = std::make_shared<qint64>(0);
        // The pattern holds no 'K', so no frame ever ends.
        const auto refill = [socket, sent, bytesEach, &pattern, &noise] {
            while (*sent < bytesEach && socket->bytesToWrite() < 256 * 1024) {
                const qsizetype size = qsizetype(std::min<qint64>(64 * 1024, bytesEach - *sent));
                if (noise.isEmpty())
                    socket->write(pattern.bytesAt(*sent, size));
                else
                    socket->write(noise.mid(*sent % noise.size(), size));
                *sent += size;
            }
        };
        QObject::connect(socket, &QTcpSocket::connected, refill);
        QObject::connect(socket, &QTcpSocket::bytesWritten, refill);
        QObject::connect(socket, &QTcpSocket::disconnected,
                         [&closedByEngine] { ++closedByEngine; });
    }
    endAfter(holdSeconds);
    const int code = QCoreApplication::exec();
    print("flood_closed_by_engine", closedByEngine, "connections");
    return code;
}

int Storm(const Target& target, int connections, const QByteArray& prefix, int registerDelaySeconds,
          int holdSeconds)
{
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    int connected = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < connections; ++i) {
        sockets.push_back(connectTo(target));
        QTcpSocket* socket = sockets.back().get();
        const QByteArray dataId = numberedId(prefix, i);
        QObject::connect(socket, &QTcpSocket::connected, [&, socket, dataId] {
            if (++connected == connections)
                print("storm_connected_seconds", double(clock.elapsed()) / 1000, "s");
            if (registerDelaySeconds == 0) {
                socket->write(frames::registration(dataId));
                return;
            }
            QTimer::singleShot(registerDelaySeconds * 1000, socket,
                               [socket, dataId] { socket->write(frames::registration(dataId)); });
        });
    }
    endAfter(holdSeconds);
    const int code = QCoreApplication::exec();
    print("storm_connected", connected, "connections");
    return code;
}

int Ping(const Target& target, const QByteArray& dataId, int count, int intervalMs, int payloadSize)
{
    auto socket = connectTo(target);
    int sent = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(intervalMs);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        // Digits, then letters: nothing a frame could be cut at.
        QByteArray payload = QByteArray::number(monotonicNanoseconds());
        payload = payload.leftJustified(payloadSize, 'x', true);
        socket->write(frames::channelFrame(dataId, payload));
        if (++sent == count) {
            ticker.stop();
            socket->disconnectFromHost();
        }
    });
    QObject::connect(socket.get(), &QTcpSocket::connected, [&] {
        socket->write(frames::registration(dataId));
        ticker.start();
    });
    QObject::connect(socket.get(), &QTcpSocket::disconnected, [] { QCoreApplication::exit(0); });
    QObject::connect(socket.get(), &QTcpSocket::errorOccurred, [&] {
        if (sent < count) {
            std::fprintf(stderr, "ping: %s\n", qPrintable(socket->errorString()));
            QCoreApplication::exit(1);
        }
    });
    return QCoreApplication::exec();
}

int Pong(const Target& target, const QByteArray& dataId, int count, int payloadSize,
         int timeoutSeconds)
{
    auto socket = connectTo(target);
    QByteArray pending;
    std::vector<double> latencies;
    QObject::connect(socket.get(), &QTcpSocket::connected,
                     [&] { socket->write(frames::registration(dataId)); });
    QObject::connect(socket.get(), &QTcpSocket::readyRead, [&] {
        const qint64 now = monotonicNanoseconds();
        pending += socket->readAll();
        // Payloads that arrive together are delivered together; each has its fixed size.
        while (pending.size() >= payloadSize) {
            const QByteArray payload = pending.left(payloadSize);
            pending.remove(0, payloadSize);
            qsizetype digits = 0;
            while (digits < payload.size() && payload[digits] >= '0' && payload[digits] <= '9')
                ++digits;
            latencies.push_back(double(now - payload.left(digits).toLongLong()) / 1e6);
        }
        if (int(latencies.size()) >= count) {
            std::sort(latencies.begin(), latencies.end());
            print("latency_p50_ms", percentile(latencies, 0.50), "ms");
            print("latency_p99_ms", percentile(latencies, 0.99), "ms");
            print("latency_max_ms", latencies.back(), "ms");
            QCoreApplication::exit(0);
        }
    });
    QTimer::singleShot(timeoutSeconds * 1000, qApp, [&] {
        std::fprintf(stderr, "pong: %zu of %d payloads came\n", latencies.size(), count);
        QCoreApplication::exit(1);
    });
    return QCoreApplication::exec();
}

int TaggedSend(const Target& target, const QByteArray& dataId, int seconds, int payloadSize,
               int intervalMs)
{
    auto socket = connectTo(target);
    qint64 sent = 0;
    QElapsedTimer clock;
    const auto sendOne = [&] {
        socket->write(frames::channelFrame(dataId, tagged::payload(dataId, sent, payloadSize)));
        ++sent;
    };
    const auto finish = [&] {
        print("tagged_sent", double(sent), "payloads");
        socket->disconnectFromHost();
    };
    QTimer ticker;
    ticker.setInterval(intervalMs);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (clock.elapsed() >= qint64(seconds) * 1000) {
            ticker.stop();
            finish();
            return;
        }
        sendOne();
    });
    // As fast as the engine takes them: a few payloads wait in the socket's buffer.
    bool finished = false;
    const auto refill = [&] {
        if (intervalMs > 0 || finished)
            return;
        while (socket->bytesToWrite() < 4 * payloadSize) {
            if (clock.elapsed() >= qint64(seconds) * 1000) {
                finished = true;
                finish();
                return;
            }
            sendOne();
        }
    };
    QObject::connect(socket.get(), &QTcpSocket::connected, [&] {
        clock.start();
        socket->write(frames::registration(dataId));
        if (intervalMs > 0)
            ticker.start();
        else
            refill();
    });
    QObject::connect(socket.get(), &QTcpSocket::bytesWritten, refill);
    QObject::connect(socket.get(), &QTcpSocket::disconnected, [] { QCoreApplication::exit(0); });
    QObject::connect(socket.get(), &QTcpSocket::errorOccurred, [&] {
        std::fprintf(stderr, "tagged-send: %s\n", qPrintable(socket->errorString()));
        QCoreApplication::exit(1);
    });
    return QCoreApplication::exec();
}

int TaggedReceive(const Target& target, const QByteArray& dataId, int idleSeconds,
                  int timeoutSeconds)
{
    auto socket = connectTo(target);
    tagged::Reader reader(dataId);
    bool reported = false;
    const auto report = [&] {
        if (std::exchange(reported, true))
            return;
        print("tagged_intact", double(reader.intact()), "payloads");
        print("tagged_damaged", double(reader.damaged()), "payloads");
        print("tagged_wrong_dataid", double(reader.wrongDataId()), "payloads");
        print("tagged_last_sequence", double(reader.lastSequence()), "");
        QCoreApplication::exit(0);
    };
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(idleSeconds * 1000);
    QObject::connect(&idle, &QTimer::timeout, report);
    QObject::connect(socket.get(), &QTcpSocket::connected,
                     [&] { socket->write(frames::registration(dataId)); });
    QObject::connect(socket.get(), &QTcpSocket::readyRead, [&] {
        reader.feed(socket->readAll());
        idle.start();
    });
    QObject::connect(socket.get(), &QTcpSocket::disconnected, report);
    QTimer::singleShot(timeoutSeconds * 1000, qApp, report);
    return QCoreApplication::exec();
}

int Churn(const Target& target, int connections, int batch)
{
    QElapsedTimer clock;
    clock.start();
    int done = 0;
    int round = 0;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    int registered = 0;
    // Each batch comes from an address of its own, so the closed ones' ports need not
    // come free first.
    std::function<void()> nextBatch = [&] {
        sockets.clear();
        if (done >= connections) {
            print("churn_seconds", double(clock.elapsed()) / 1000, "s");
            QCoreApplication::exit(0);
            return;
        }
        ++round;
        const QHostAddress from(
            QStringLiteral("127.%1.%2.1").arg(1 + round / 250 % 250).arg(round % 250));
        const int count = std::min(batch, connections - done);
        registered = 0;
        for (int i = 0; i < count; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket* socket = sockets.back().get();
            socket->bind(from);
            const QByteArray dataId = numberedId("C", done + i);
            QObject::connect(socket, &QTcpSocket::connected, [&, socket, dataId, count] {
                socket->write(frames::registration(dataId));
                socket->flush();
                if (++registered == count)
                    QTimer::singleShot(0, qApp, nextBatch);
            });
            QObject::connect(socket, &QTcpSocket::errorOccurred, [socket] {
                std::fprintf(stderr, "churn: %s\n", qPrintable(socket->errorString()));
                QCoreApplication::exit(1);
            });
            socket->connectToHost(target.host, target.port);
        }
        done += count;
    };
    QTimer::singleShot(0, qApp, nextBatch);
    return QCoreApplication::exec();
}

} // namespace tellaran::load
