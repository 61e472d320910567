#pragma once

#include <QByteArray>
#include <QString>

namespace tellaran {

class SerialPort;

// Echo on, answer on the first ring.
QByteArray AnswerCommand();
// "ATD", the number field exactly as typed, CR LF: the dial method was set at start-up.
QByteArray DialCommand(const QByteArray& number);

// Opens the modem's port unless it is open already. Returns false when it cannot be opened,
// with a message for the user naming the port and the reason in *failureText.
bool OpenModemPort(SerialPort& port, QString* failureText);

} // namespace tellaran
