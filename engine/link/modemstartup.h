#pragma once

#include <QByteArrayList>
#include <QString>

namespace tellaran {

struct SettingsRecord;

// The modem's initialisation commands for the settings, in the order they go out, without
// line ends: ATX4, AT%C3 when compression is ticked, AT+MS=56,1, ATL and the volume with a
// blank for its sign, ATM1, ATM2, and ATP or ATT.
QByteArrayList ModemStartUpCommands(const SettingsRecord& settings);

// The answer window's log line for a start-up command the modem refused or left unanswered.
QString StartUpRefusalText(const QByteArray& command);

} // namespace tellaran
