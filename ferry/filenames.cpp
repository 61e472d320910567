#include "ferry/filenames.h"

#include <QStringList>

namespace ferryit {

namespace {

// Characters that change the direction of the text around them: they can make
// "txt.exe" read as "exe.txt".
bool isDirectionControl(char32_t c)
{
    return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

bool isControl(char32_t c)
{
    return QChar::category(c) == QChar::Other_Control || isDirectionControl(c);
}

QString withoutControls(const QString& text, QChar replacement = QChar())
{
    QString out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (!isControl(c))
            out.append(QString::fromUcs4(&c, 1));
        else if (!replacement.isNull())
            out.append(replacement);
    }
    return out;
}

// Cuts a name to `maxBytes` of UTF-8, keeping a short extension, never inside a character.
QString shortened(const QString& name, qsizetype maxBytes)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString suffix = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
    QString base = name.left(name.size() - suffix.size());
    const qsizetype room = maxBytes - suffix.toUtf8().size();
    const QList<uint> characters = base.toUcs4();
    QString kept;
    qsizetype bytes = 0;
    for (const uint c : characters) {
        const char32_t code = c;
        const QString one = QString::fromUcs4(&code, 1);
        bytes += one.toUtf8().size();
        if (bytes > room)
            break;
        kept += one;
    }
    return kept + suffix;
}

} // namespace

QString printableName(const QString& name)
{
    const QString shown = withoutControls(name, QLatin1Char('?'));
    return shown.size() > 80 ? shown.left(77) + QStringLiteral("...") : shown;
}

CleanedName cleanOfferedName(const QByteArray& offered)
{
    const QString decoded = QString::fromUtf8(offered);
    QStringList notes;
    if (decoded.contains(QChar::ReplacementCharacter) && !offered.contains("\xEF\xBF\xBD"))
        notes << QStringLiteral("characters that are not UTF-8 were replaced");

    QString name = decoded;
    const qsizetype separator =
        std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    if (separator >= 0) {
        name = name.mid(separator + 1);
        notes << QStringLiteral("only the last part of a path is used");
    }
    const QString visible = withoutControls(name);
    if (visible != name) {
        name = visible;
        notes << QStringLiteral("control characters were removed");
    }
    const QString trimmed = name.trimmed();
    qsizetype dots = 0;
    while (dots < trimmed.size() && trimmed[dots] == QLatin1Char('.'))
        ++dots;
    if (dots > 0 && dots < trimmed.size())
        notes << QStringLiteral("a name starting with a dot would be hidden");
    name = trimmed.mid(dots).trimmed();

    CleanedName cleaned;
    if (name.isEmpty()) {
        cleaned.refusal =
            QStringLiteral("The offered name \u201c%1\u201d cannot be used as a file name.")
                .arg(printableName(decoded));
        return cleaned;
    }
    if (name.toUtf8().size() > MaxStoredNameBytes) {
        name = shortened(name, MaxStoredNameBytes);
        notes << QStringLiteral("it was too long and was shortened");
    }
    cleaned.name = name;
    if (!notes.isEmpty())
        cleaned.note = QStringLiteral("Offered as \u201c%1\u201d: %2.")
                           .arg(printableName(decoded), notes.join(QStringLiteral("; ")));
    return cleaned;
}

QString numberedName(const QString& name, int n)
{
    if (n <= 0)
        return name;
    qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) {
        const qsizetype tar = name.lastIndexOf(QLatin1String(".tar."), -1, Qt::CaseInsensitive);
        if (tar > 0 && tar + 4 == dot)
            dot = tar;
    }
    if (dot <= 0)
        return QStringLiteral("%1 (%2)").arg(name).arg(n);
    return QStringLiteral("%1 (%2)%3").arg(name.left(dot)).arg(n).arg(name.mid(dot));
}

} // namespace ferryit
