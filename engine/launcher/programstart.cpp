#include "engine/launcher/programstart.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace tellaran {

QStringList SplitCommandLine(const QString& commandLine)
{
    QStringList words;
    QString word;
    bool inWord = false;
    const qsizetype n = commandLine.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = commandLine[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('\'')) {
            const qsizetype close = commandLine.indexOf(QLatin1Char('\''), i + 1);
            const qsizetype end = close < 0 ? n : close;
            word += commandLine.mid(i + 1, end - i - 1);
            i = end;
        } else if (c == QLatin1Char('"')) {
            for (++i; i < n && commandLine[i] != QLatin1Char('"'); ++i) {
                if (commandLine[i] == QLatin1Char('\\') && i + 1 < n &&
                    (commandLine[i + 1] == QLatin1Char('"') ||
                     commandLine[i + 1] == QLatin1Char('\\')))
                    ++i;
                word += commandLine[i];
            }
        } else if (c == QLatin1Char('\\') && i + 1 < n) {
            word += commandLine[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

bool ResolveCommandLine(const QString& commandLine, const QStringList& folders,
                        ProgramCommand* command)
{
    QStringList words = SplitCommandLine(commandLine);
    if (words.isEmpty() || words.first().isEmpty())
        return false;
    const QString file = words.takeFirst();
    QString program;
    if (QDir::isAbsolutePath(file)) {
        program = file;
    } else {
        for (const QString& folder : folders) {
            const QFileInfo candidate(QDir(folder).filePath(file));
            if (candidate.isFile()) {
                program = candidate.absoluteFilePath();
                break;
            }
        }
        if (program.isEmpty() && !file.contains(QLatin1Char('/')))
            program = QStandardPaths::findExecutable(file);
    }
    if (program.isEmpty())
        return false;
    command->program = program;
    command->arguments = words;
    return true;
}

bool StartCommandLine(const QString& commandLine, const QString& workingFolder,
                      const QStringList& folders, qint64* pid)
{
    ProgramCommand command;
    if (!ResolveCommandLine(commandLine, folders, &command))
        return false;
    // startDetached reports a failed exec (missing file, no permission, not executable) as
    // false; it never waits for the program itself.
    return QProcess::startDetached(command.program, command.arguments, workingFolder, pid);
}

} // namespace tellaran
