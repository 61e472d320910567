#pragma once

#include "tests/fuzz/fuzzinput.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace tellaran::fuzz {

// A program folder with its data folder, made once for the whole run and removed at its end.
// The harnesses of the data files write on every input, so it lives in memory where the
// system offers that (/dev/shm), which keeps the file writes and their flushes cheap.
inline QString programFolder()
{
    static const QTemporaryDir folder(
        QDir(QStringLiteral("/dev/shm")).exists()
            ? QStringLiteral("/dev/shm/tellaran-fuzz-XXXXXX")
            : QDir::temp().filePath(QStringLiteral("tellaran-fuzz-XXXXXX")));
    static const bool made = folder.isValid() && QDir(folder.path()).mkpath(QStringLiteral("data"));
    if (!made)
        fail("a temporary program folder can be made", __FILE__, __LINE__);
    return folder.path();
}

inline QString dataFile(const char* name)
{
    return programFolder() + QStringLiteral("/data/") + QLatin1String(name);
}

inline void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(content) == content.size());
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace tellaran::fuzz
