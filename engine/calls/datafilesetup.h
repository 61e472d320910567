#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tellaran {

// The data files the engine cannot start without, as names below data/: the settings, the
// phone book and the program list, in the order the presence test opens them.
QStringList RequiredDataFiles();

// The presence test: whether every required file can be opened for reading.
bool AllDataFilesPresent(const QString& programDir);

struct DataFileProblem
{
    QString path;
    QString reason;
};

// The first-run set-up's file work. Creates only the files that are missing: the settings
// with the delivered values, the phone book and the program list empty. A file that exists
// is never emptied or replaced, even when it cannot be read; that, and a file that cannot be
// created, is returned as a problem naming the file.
QList<DataFileProblem> CreateMissingDataFiles(const QString& programDir);

} // namespace tellaran
