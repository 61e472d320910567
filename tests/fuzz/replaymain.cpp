// Runs every input of the given folders (a harness's seed corpus and regressions) through
// its harness once, so that the normal build checks them on every test run.
#include "tests/fuzz/fuzzinput.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const QDir folder(QString::fromLocal8Bit(argv[i]));
        const QStringList names = folder.entryList(QDir::Files, QDir::Name);
        for (const QString& name : names) {
            QFile file(folder.filePath(name));
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
                return 1;
            }
            const QByteArray input = file.readAll();
            // Shown only when the harness fails on it.
            std::fprintf(stderr, "%s\n", qPrintable(file.fileName()));
            fuzzOne(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    // A corpus that went missing must not pass as an empty one.
    return replayed > 0 ? 0 : 1;
}
