#include "bench/load/noisyline.h"

#include "platform/modemline.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <cstdio>
#include <random>
#include <utility>

namespace tellaran::load {

namespace {

// Flips bits of a byte stream at random, each with the same probability.
class Noise
{
public:
    Noise(double bitErrorRate, quint64 seed) : random_(seed), gap_(bitErrorRate)
    {
        untilFlip_ = gap_(random_);
    }

    void apply(QByteArray& bytes)
    {
        qint64 bits = qint64(bytes.size()) * 8;
        qint64 at = 0;
        while (untilFlip_ < bits - at) {
            at += untilFlip_;
            bytes[at / 8] = char(bytes[at / 8] ^ (1 << (at % 8)));
            ++flipped_;
            ++at;
            untilFlip_ = gap_(random_);
        }
        untilFlip_ -= bits - at;
    }
    qint64 flipped() const { return flipped_; }

private:
    std::mt19937_64 random_;
    std::geometric_distribution<qint64> gap_;
    qint64 untilFlip_ = 0;
    qint64 flipped_ = 0;
};

} // namespace

int NoisyLine(const QString& exchangeDir, const QString& listen, const QString& connect,
              double bitErrorRate, int noiseSeconds, quint64 seed)
{
    const QString listenPath = QDir(exchangeDir).filePath(listen);
    QLocalServer::removeServer(listenPath);
    QLocalServer server;
    if (!server.listen(listenPath)) {
        std::fprintf(stderr, "noisyline: cannot listen on %s: %s\n", qPrintable(listenPath),
                     qPrintable(server.errorString()));
        return 1;
    }
    Noise toCallee(bitErrorRate, seed);
    Noise toCaller(bitErrorRate, seed ^ 0x9E3779B97F4A7C15ull);
    QLocalSocket* caller = nullptr;
    QLocalSocket callee;
    bool answered = false;
    QByteArray setUp; // what the callee said before its answer
    QElapsedTimer sinceAnswer;
    const auto noisy = [&] {
        return answered && bitErrorRate > 0 &&
               (noiseSeconds <= 0 || sinceAnswer.elapsed() < qint64(noiseSeconds) * 1000);
    };
    bool ended = false;
    const auto end = [&] {
        if (std::exchange(ended, true))
            return;
        std::printf("noise_flipped_bits %lld bits\n", toCallee.flipped() + toCaller.flipped());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    };

    QObject::connect(&server, &QLocalServer::newConnection, [&] {
        QLocalSocket* next = server.nextPendingConnection();
        if (caller) {
            next->abort(); // one call at a time, as on a real line
            return;
        }
        caller = next;
        QObject::connect(caller, &QLocalSocket::readyRead, [&] {
            QByteArray bytes = caller->readAll();
            if (noisy())
                toCallee.apply(bytes);
            callee.write(bytes);
        });
        QObject::connect(caller, &QLocalSocket::disconnected, [&] {
            callee.disconnectFromServer();
            end();
        });
        callee.connectToServer(QDir(exchangeDir).filePath(connect));
    });
    QObject::connect(&callee, &QLocalSocket::connected, [&] {
        if (caller->bytesAvailable() > 0)
            Q_EMIT caller->readyRead();
    });
    QObject::connect(&callee, &QLocalSocket::readyRead, [&] {
        QByteArray bytes = callee.readAll();
        if (!answered) {
            // The answer passes clean; what comes after it in the same read is the call's.
            setUp += bytes;
            const qsizetype at = setUp.indexOf(ModemHandshake::answer);
            if (at < 0) {
                caller->write(bytes);
                return;
            }
            const qsizetype answerEnd = at + ModemHandshake::answer.size();
            const qsizetype cleanPart = bytes.size() - (setUp.size() - answerEnd);
            caller->write(bytes.first(cleanPart));
            bytes = bytes.sliced(cleanPart);
            answered = true;
            sinceAnswer.start();
        }
        if (noisy())
            toCaller.apply(bytes);
        caller->write(bytes);
    });
    QObject::connect(&callee, &QLocalSocket::disconnected, [&] {
        if (caller)
            caller->disconnectFromServer();
        end();
    });
    QObject::connect(&callee, &QLocalSocket::errorOccurred, [&](QLocalSocket::LocalSocketError) {
        if (callee.state() == QLocalSocket::UnconnectedState) {
            std::fprintf(stderr, "noisyline: %s\n", qPrintable(callee.errorString()));
            if (caller)
                caller->abort();
            end();
        }
    });
    return QCoreApplication::exec();
}

} // namespace tellaran::load
