#include "tests/e2e/enginepair.h"

#include "engine/settings/settingsfile.h"
#include "platform/datafile.h"
#include "tests/support/fakeengine.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace tellaran::testing {

TestComputer::TestComputer(const QString& name, const QString& exchangeDir, int lineRate,
                           SerialEnvironment::BackendFactory backendFactory)
    : line(name), boxes(std::make_shared<ScriptedMessageBoxes>())
{
    QDir(dir.path()).mkpath(QStringLiteral("data"));
    const QString data = dir.path() + QStringLiteral("/data/");
    SettingsFile(dir.path()).SaveSettings(DeliveredSettings());
    // The phone book and the program list exist, as after a first run.
    for (const char* file : {"addresses.dat", "programs.dat"})
        datafile::appendToFile(data + QLatin1String(file), QByteArray());
    datafile::rewriteFile(
        data + QStringLiteral("ports.dat"), data + QStringLiteral("portstemp.dat"),
        datafile::encodeRecord({"1", datafile::encodeText("modem:" + name.toLatin1())}));

    TellaranEngine::Options options;
    options.programDir = dir.path();
    options.channelPort = freeTcpPort();
    options.serial.exchangeDir = exchangeDir;
    options.serial.virtualLineRate = lineRate;
    options.serial.backendFactory = std::move(backendFactory);
    options.messageBoxes = boxes;
    options.onEnd = [this] { ++ended; };
    engine = std::make_unique<TellaranEngine>(std::move(options));
    engine->statusWindow();
}

EnginePair::EnginePair(int lineRate)
    : a(QStringLiteral("ann"), exchange.path(), lineRate),
      b(QStringLiteral("bob"), exchange.path(), lineRate)
{}

bool EnginePair::call(int timeoutMs)
{
    SerialPort& answering = b.engine->modemPort();
    answering.setPortOpen(true);
    answering.setDTREnable(true);
    answering.Output("ATE1S0=1\r\n");

    SerialPort& dialing = a.engine->modemPort();
    dialing.setPortOpen(true);
    dialing.Output("ATD" + b.line.toLatin1() + "\r\n");

    return QTest::qWaitFor(
        [this] { return a.engine->modemConnected() && b.engine->modemConnected(); }, timeoutMs);
}

} // namespace tellaran::testing
