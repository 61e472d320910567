// Draws each icons/<name>-<size>.svg as icons/<name>-<size>.png at exactly its size: the
// small icons are drawn for their size, and the menus take the pictures of the fixed sizes.
// Run by the "render_icons" target; its pictures are kept in the source tree.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>

#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: rendericons <icons folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QRegularExpression sized(QStringLiteral("^[a-z]+-(\\d+)\\.svg$"));
    int failures = 0;
    for (const QString& name : folder.entryList({QStringLiteral("*.svg")}, QDir::Files)) {
        const QRegularExpressionMatch match = sized.match(name);
        if (!match.hasMatch())
            continue;
        const int size = match.captured(1).toInt();
        QImageReader reader(folder.filePath(name));
        reader.setScaledSize(QSize(size, size));
        const QImage picture = reader.read().convertToFormat(QImage::Format_ARGB32);
        const QString target = folder.filePath(QString(name).replace(QLatin1String(".svg"),
                                                                    QLatin1String(".png")));
        if (picture.isNull() || !picture.save(target, "PNG")) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(reader.errorString()));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
