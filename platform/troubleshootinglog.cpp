#include "platform/troubleshootinglog.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>

namespace tellaran::troubleshooting {

namespace {

// The message handler is a plain function, so the open log is kept here; the mutex guards
// it against messages from other threads.
QMutex logMutex;
QFile* activeLog = nullptr;
QtMessageHandler previousHandler = nullptr;

void writeToLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString line = qFormatLogMessage(type, context, message);
    QMutexLocker lock(&logMutex);
    if (activeLog) {
        activeLog->write(line.toUtf8() + '\n');
        activeLog->flush();
        return;
    }
    lock.unlock();
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

void useTimedMessages()
{
    qSetMessagePattern(
        QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{if-category}%{category} %{endif}"
                       "%{if-warning}warning: %{endif}%{if-critical}critical: %{endif}"
                       "%{if-fatal}fatal: %{endif}%{message}"));
}

void switchOn()
{
    QLoggingCategory::setFilterRules(QStringLiteral("tellaran.*=true"));
}

QString printable(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r')
            text += QStringLiteral("\\r");
        else if (byte == '\n')
            text += QStringLiteral("\\n");
        else if (byte == '\\')
            text += QStringLiteral("\\\\");
        else if (byte >= 0x20 && byte < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

LogFile::~LogFile()
{
    close();
}

bool LogFile::open(const QString& path, QString* error)
{
    close();
    auto* file = new QFile(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *error = file->errorString();
        delete file;
        return false;
    }
    QMutexLocker lock(&logMutex);
    if (activeLog) {
        // Another log is open: only one can receive the messages.
        *error = QStringLiteral("another log is already open");
        lock.unlock();
        delete file;
        return false;
    }
    activeLog = file;
    file_ = file;
    lock.unlock();
    previousHandler = qInstallMessageHandler(writeToLog);
    return true;
}

void LogFile::close()
{
    if (!file_)
        return;
    qInstallMessageHandler(previousHandler);
    QMutexLocker lock(&logMutex);
    activeLog = nullptr;
    lock.unlock();
    delete file_;
    file_ = nullptr;
}

bool LogFile::isOpen() const
{
    return file_ != nullptr;
}

} // namespace tellaran::troubleshooting
