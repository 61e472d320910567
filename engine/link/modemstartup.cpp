#include "engine/link/modemstartup.h"

#include "engine/settings/settingsfile.h"

namespace tellaran {

QByteArrayList ModemStartUpCommands(const SettingsRecord& settings)
{
    QByteArrayList commands{"ATX4"};
    if (settings.useCompression)
        commands.append("AT%C3");
    commands.append("AT+MS=56,1");
    QByteArray volume = QByteArray::number(settings.speakerVolume);
    if (settings.speakerVolume >= 0)
        volume.prepend(' ');
    commands.append("ATL" + volume);
    if (settings.speakerUntilConnect)
        commands.append("ATM1");
    if (settings.speakerAlwaysOn)
        commands.append("ATM2");
    if (settings.pulseDial)
        commands.append("ATP");
    else if (settings.toneDial)
        commands.append("ATT");
    return commands;
}

QString StartUpRefusalText(const QByteArray& command)
{
    return QStringLiteral("The modem did not accept ") + QString::fromLatin1(command);
}

} // namespace tellaran
