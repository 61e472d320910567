#include "tests/support/fakeengine.h"

#include "engine/channels/form2.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>

namespace tellaran::testing {

FakeEngine::FakeEngine()
{
    QDir(dir_.path()).mkpath(QStringLiteral("data"));
    channelPort_ = freeTcpPort();
}

FakeEngine::~FakeEngine() = default;

SerialPort& FakeEngine::modemPort()
{
    ++modemPortReached;
    if (!port_) {
        SerialEnvironment environment;
        environment.portMapFile = dataPath(QStringLiteral("ports.dat"));
        environment.exchangeDir = dir_.path() + QStringLiteral("/exchange");
        port_ = std::make_unique<SerialPort>(environment);
    }
    return *port_;
}

void FakeEngine::writeCallCommand(const QByteArray& command)
{
    callCommands.append(command);
    modemPort().Output(command);
}

void FakeEngine::hangUpModem()
{
    if (!isModemWindowLoaded() || !modemPort().PortOpen())
        return;
    ++modemHangUps;
    SerialPort& port = modemPort();
    port.setDTREnable(false);
    port.setPortOpen(false);
    port.setDTREnable(true);
}

Form2& FakeEngine::statusWindow()
{
    if (!status_) {
        if (!statusWindowFactory)
            qFatal("FakeEngine: this test reached the status window without a factory for it");
        status_ = statusWindowFactory(*this);
    }
    return *status_;
}

void FakeEngine::showStatusWindow()
{
    statusWindow().show();
}

void FakeEngine::hideStatusWindow()
{
    statusWindow().hide();
}

void FakeEngine::startCallClock()
{
    statusWindow().StartCallClock();
}

bool FakeEngine::callClockStarted()
{
    return statusWindow().t1.isValid();
}

void FakeEngine::startConnectionClockTicks()
{
    statusWindow().Timer1.start();
}

void FakeEngine::countReceivedForSpeed(qint64 characters)
{
    statusWindow().totaldata += characters;
}

void FakeEngine::deleteChannelTable()
{
    statusWindow().channelTable().Delete();
}

void FakeEngine::setStatusView(StatusView view)
{
    statusWindow().ShowView(view);
}

void FakeEngine::setInflowShown(bool shown)
{
    if (shown)
        statusWindow().ShowInflow();
    else
        statusWindow().HideInflow();
}

void FakeEngine::writeDataFile(const QString& name, const QByteArray& content) const
{
    QFile file(dataPath(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

QByteArray FakeEngine::readDataFile(const QString& name) const
{
    QFile file(dataPath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace tellaran::testing
