#pragma once

#include "ferry/ferrysession.h"
#include "ferry/wireencoding.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

namespace ferryit::testing {

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline QString writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// One Ferryit of a pair: its folders, its session, and the messages it sent, decoded.
struct FerrySide
{
    FerrySide(std::function<void(const QByteArray&)> send, qint64* clock)
        : send_(std::move(send)), clock_(clock)
    {
        restart();
    }
    // A new session on the same folders, as when Ferryit is started again.
    void restart()
    {
        session.reset();
        session = std::make_unique<FerrySession>(FerrySession::Options{
            send_, QDir(programDir.path()).filePath(QStringLiteral("parts.dat")),
            [this](const QString&) { return freeSpace; }, [this] { return *clock_; }});
        session->setReceiveFolder(inbox.path());
    }
    QString inboxFile(const QString& name) const { return QDir(inbox.path()).filePath(name); }
    QString outboxFile(const QString& name, const QByteArray& content) const
    {
        return writeFile(QDir(outbox.path()).filePath(name), content);
    }
    const TransferInfo& info(quint64 key) const { return *session->transfer(key); }
    // The transfers of a direction, oldest first.
    QList<const TransferInfo*> transfers(Direction direction) const
    {
        QList<const TransferInfo*> found;
        for (const quint64 key : session->transferKeys()) {
            if (session->transfer(key)->direction == direction)
                found.append(session->transfer(key));
        }
        return found;
    }
    QStringList inboxNames() const
    {
        return QDir(inbox.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir programDir;
    QTemporaryDir inbox;
    QTemporaryDir outbox;
    qint64 freeSpace = -1;
    std::unique_ptr<FerrySession> session;

private:
    std::function<void(const QByteArray&)> send_;
    qint64* clock_;
};

// Two sessions joined as two engines join them: every payload arrives, in order, but
// coalesced with its neighbours and split at random places. Each direction can be watched
// (every message decoded) and tampered with.
class FerryPair
{
public:
    // Sees each payload before it travels; returns false to drop it.
    using Tap = std::function<bool(QByteArray& payload)>;

    explicit FerryPair(quint32 seed = 1)
        : random_(seed), a_([this](const QByteArray& p) { carry(0, p); }, &clock),
          b_([this](const QByteArray& p) { carry(1, p); }, &clock)
    {}

    FerrySide& a() { return a_; }
    FerrySide& b() { return b_; }
    void connect()
    {
        a_.session->linkUp();
        b_.session->linkUp();
    }
    void drop()
    {
        pending_[0].clear();
        pending_[1].clear();
        a_.session->linkDown();
        b_.session->linkDown();
    }
    // Taps of the payloads a sends to b (0) and b sends to a (1).
    Tap tap[2];
    // Messages carried each way, decoded (after tampering).
    QList<Message> carried[2];
    qint64 clock = 0;

private:
    void carry(int from, QByteArray payload)
    {
        if (tap[from] && !tap[from](payload))
            return;
        wire::MessageDecoder decoder([&](const QByteArray& raw) {
            const ParsedMessage parsed = parseMessage(raw);
            if (parsed.status == ParsedMessage::Ok)
                carried[from].append(parsed.message);
        });
        decoder.feed(payload);
        pending_[from] += payload;
        QTimer::singleShot(0, &timerContext_, [this, from] { deliver(from); });
    }
    void deliver(int from)
    {
        FerrySession& to = from == 0 ? *b_.session : *a_.session;
        while (!pending_[from].isEmpty()) {
            const qsizetype n =
                std::min<qsizetype>(pending_[from].size(), 1 + random_.bounded(3000));
            const QByteArray piece = pending_[from].left(n);
            pending_[from].remove(0, n);
            to.receive(piece);
        }
    }

    QObject timerContext_;
    QRandomGenerator random_;
    QByteArray pending_[2];
    FerrySide a_;
    FerrySide b_;
};

} // namespace ferryit::testing
