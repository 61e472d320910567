#pragma once

#include "engine/engine.h"
#include "platform/serialport.h"
#include "tests/support/scriptedmessageboxes.h"

#include <QByteArrayList>
#include <QTemporaryDir>
#include <memory>

namespace tellaran::testing {

// A stand-in for the whole engine: a temporary program folder with an empty data/ folder,
// scripted message boxes, and flags that record what the parts under test asked of it.
class FakeEngine : public Engine
{
public:
    FakeEngine();
    ~FakeEngine() override;

    QString programDir() const override { return dir_.path(); }
    quint16 channelPort() const override { return channelPort_; }
    MessageBoxService& messageBoxes() override { return boxes; }
    void endProgram() override { ++endProgramCalls; }
    bool modemConnected() const override { return connected; }
    bool isModemWindowLoaded() const override { return modemPortReached > 0; }
    SerialPort& modemPort() override;
    TrafficCounters& counters() override { return trafficCounters; }
    void showUserMessage(const QByteArray& text) override { userMessages.append(text); }
    void showModeWindow() override { modeWindowVisible = true; }
    void hideModeWindow() override { modeWindowVisible = false; }

    void setChannelPort(quint16 port) { channelPort_ = port; }
    // Writes a file below data/.
    void writeDataFile(const QString& name, const QByteArray& content) const;
    QByteArray readDataFile(const QString& name) const;

    ScriptedMessageBoxes boxes;
    bool connected = false;
    int endProgramCalls = 0;
    int modemPortReached = 0;
    bool modeWindowVisible = false;
    TrafficCounters trafficCounters;
    QByteArrayList userMessages;

private:
    QTemporaryDir dir_;
    quint16 channelPort_ = 0;
    std::unique_ptr<SerialPort> port_;
};

// A free TCP port on the loopback interface, for servers under test.
quint16 freeTcpPort();

} // namespace tellaran::testing
