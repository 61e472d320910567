#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#ifndef TELLARAN_SHARE_FROM_BIN
#define TELLARAN_SHARE_FROM_BIN "../share/tellaran"
#endif

namespace tellaran::programfolder {

QString installedShareFolder(const QString& executableDir)
{
    return QDir::cleanPath(executableDir + QLatin1Char('/') +
                           QStringLiteral(TELLARAN_SHARE_FROM_BIN));
}

bool isInstalled(const QString& executableDir)
{
    return QFileInfo(installedShareFolder(executableDir)).isDir();
}

QString chooseProgramFolder(const QString& executableDir, const QString& perUserDir)
{
    if (!isInstalled(executableDir) && QFileInfo(executableDir).isWritable())
        return executableDir;
    return perUserDir;
}

QString deliveredDataFolder(const QString& executableDir)
{
    if (isInstalled(executableDir))
        return installedShareFolder(executableDir) + QStringLiteral("/data");
    return executableDir + QStringLiteral("/data");
}

namespace {

// Through QSaveFile: the file appears whole or not at all.
bool copyWhole(const QString& from, const QString& to, QString* error)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = source.errorString();
        return false;
    }
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly)) {
        *error = target.errorString();
        return false;
    }
    const QByteArray content = source.readAll();
    if (source.error() != QFileDevice::NoError) {
        *error = source.errorString();
        target.cancelWriting();
        return false;
    }
    if (target.write(content) != content.size() || !target.commit()) {
        *error = target.errorString();
        return false;
    }
    return true;
}

} // namespace

QStringList seedMissingFiles(const QString& deliveredDir, const QString& targetDir)
{
    QStringList problems;
    const QDir delivered(deliveredDir);
    if (!delivered.exists() || QDir::cleanPath(deliveredDir) == QDir::cleanPath(targetDir))
        return problems;
    if (!QDir().mkpath(targetDir)) {
        problems.append(QStringLiteral("%1: the folder cannot be created").arg(targetDir));
        return problems;
    }
    const QStringList names = delivered.entryList(QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& name : names) {
        const QString target = QDir(targetDir).filePath(name);
        // exists() is false for a dangling link too, which then must not be followed.
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue;
        QString error;
        if (!copyWhole(delivered.filePath(name), target, &error))
            problems.append(QStringLiteral("%1: %2").arg(target, error));
    }
    return problems;
}

QString findHelpFile(const QString& executableDir)
{
    const QString beside = executableDir + QStringLiteral("/help.html");
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = installedShareFolder(executableDir) + QStringLiteral("/help.html");
    if (QFileInfo::exists(installed))
        return installed;
    return beside;
}

Locations locate()
{
    const QString executableDir = QCoreApplication::applicationDirPath();
    Locations where;
    where.programDir = chooseProgramFolder(
        executableDir, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    where.perUser = where.programDir != executableDir;
    where.deliveredDataDir = deliveredDataFolder(executableDir);
    where.helpFile = findHelpFile(executableDir);
    return where;
}

} // namespace tellaran::programfolder
