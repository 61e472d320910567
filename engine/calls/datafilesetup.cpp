#include "engine/calls/datafilesetup.h"

#include "engine/settings/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tellaran {

namespace {

QString dataPath(const QString& programDir, const QString& name)
{
    return programDir + QStringLiteral("/data/") + name;
}

bool canRead(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

// NewOnly: a file that appeared meanwhile is left as it is.
bool createEmpty(const QString& path, QString* error)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return true;
    *error = file.errorString();
    return false;
}

} // namespace

QStringList RequiredDataFiles()
{
    return {QStringLiteral("data.dat"), QStringLiteral("addresses.dat"),
            QStringLiteral("programs.dat")};
}

bool AllDataFilesPresent(const QString& programDir)
{
    for (const QString& name : RequiredDataFiles()) {
        if (!canRead(dataPath(programDir, name)))
            return false;
    }
    return true;
}

QList<DataFileProblem> CreateMissingDataFiles(const QString& programDir)
{
    QList<DataFileProblem> problems;
    QDir().mkpath(programDir + QStringLiteral("/data"));
    for (const QString& name : RequiredDataFiles()) {
        const QString path = dataPath(programDir, name);
        if (canRead(path))
            continue;
        if (QFileInfo::exists(path)) {
            problems.append({path, QStringLiteral("the file exists but cannot be read")});
            continue;
        }
        QString error;
        const bool created =
            name == QLatin1String("data.dat")
                ? SettingsFile(programDir).SaveSettings(DeliveredSettings(), &error)
                : createEmpty(path, &error);
        if (!created)
            problems.append({path, error});
    }
    return problems;
}

} // namespace tellaran
