#include "engine/windows/credits.h"

#include <QStringList>

namespace tellaran {

bool ScrollCredits(CreditsScroll& credits)
{
    credits.top -= CreditsScroll::StepTwips;
    return credits.top + credits.height < CreditsScroll::CloseBelowTwips;
}

QString CreditsText()
{
    const QString rule(17, QLatin1Char('_'));
    const QString developers = QStringLiteral("the Tellaran developers");
    const QStringList lines = {
        QString(),
        QString(),
        QString(),
        QStringLiteral("Tellaran"),
        QStringLiteral("Ver. 1.0"),
        QStringLiteral("(July 20, 2002)"),
        QString(),
        QStringLiteral("Created by"),
        QString(),
        developers,
        QStringLiteral("of the Tellaran project,"),
        QStringLiteral("around the world"),
        QString(),
        QStringLiteral("CREDITS"),
        rule,
        rule,
        QString(),
        QStringLiteral("Testing:"),
        developers,
        QStringLiteral("and their test suite"),
        rule,
        rule,
        QString(),
        QStringLiteral("Thanks and please "),
        QStringLiteral("send your feedback or "),
        QStringLiteral("comments to"),
        developers,
    };
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

} // namespace tellaran
