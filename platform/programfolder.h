#pragma once

#include <QString>
#include <QStringList>

// Where a program keeps its files. A program run from a folder it may write to (the build
// folder, a copied portable folder) keeps its data beside itself. An installed program
// keeps it in the user's own data folder, which gets the delivered files on first use; the
// install tree itself is never written.
namespace tellaran::programfolder {

// The installed share folder (share/tellaran) as seen from the folder of an installed
// program (bin/).
QString installedShareFolder(const QString& executableDir);

// Whether the program at executableDir belongs to an install tree: its share folder is
// there.
bool isInstalled(const QString& executableDir);

// The one decision: the executable's own folder when it is writable and not an install
// tree, otherwise perUserDir. The install tree is never chosen, even for a user (root) who
// could write into it.
QString chooseProgramFolder(const QString& executableDir, const QString& perUserDir);

// Where the delivered data files of a program at executableDir are: the installed share
// folder's data/, or data/ beside the program.
QString deliveredDataFolder(const QString& executableDir);

// Copies each file of deliveredDir that targetDir lacks (creating targetDir), and never
// replaces a file that is there. A copy is written under a temporary name and renamed into
// place, and the user may write it whatever the delivered file's permissions. Returns the
// files that could not be copied, each with the reason.
QStringList seedMissingFiles(const QString& deliveredDir, const QString& targetDir);

// The user guide: beside the program, else in the installed share folder. When neither
// has it, the path beside the program (so a message can name it).
QString findHelpFile(const QString& executableDir);

struct Locations
{
    // The folder whose files the program keeps (the engine's data/ is below it).
    QString programDir;
    // Whether programDir is the per-user folder rather than the program's own.
    bool perUser = false;
    // Where the delivered data files come from.
    QString deliveredDataDir;
    QString helpFile;
};

// The locations of the running program: its executable's folder and the per-user
// application data folder of the application's name.
Locations locate();

} // namespace tellaran::programfolder
