#pragma once

#include "engine/engine.h"
#include "platform/serialport.h"
#include "tests/support/scriptedmessageboxes.h"

#include <QByteArrayList>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
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
    bool isOwnRelayConnection(const QHostAddress& peer, quint16 peerPort) const override
    {
        return ownRelayConnection && ownRelayConnection(peer, peerPort);
    }
    SerialPort& modemPort() override;
    // As the modem window does, less the waiting: the command goes out and is recorded.
    void writeCallCommand(const QByteArray& command) override;
    QByteArrayList modemStartUpRefusals() const override { return startUpRefusals; }
    // DTR dropped and the port closed; counted.
    void hangUpModem() override;
    TrafficCounters& counters() override { return trafficCounters; }
    void trafficCountersChanged() override { ++trafficCounterChanges; }
    bool useCompressionTicked() override { return compressionTicked; }
    void showUserMessage(const QByteArray& text) override { userMessages.append(text); }
    Form2& statusWindow() override;
    bool isStatusWindowLoaded() const override { return status_ != nullptr; }
    // These reach the status window as the real engine does, so it needs a factory too.
    void showStatusWindow() override;
    void hideStatusWindow() override;
    void startCallClock() override;
    bool callClockStarted() override;
    void startConnectionClockTicks() override;
    void countReceivedForSpeed(qint64 characters) override;
    void deleteChannelTable() override;
    void setStatusView(StatusView view) override;
    void setInflowShown(bool shown) override;
    bool isAnswerWindowVisible() const override { return answerWindowVisible; }
    void showAnswerWindowRinging() override { ++answerWindowRings; }
    void showAnswerWindowFailed(const QString& failure) override
    {
        answerWindowFailures.append(failure);
    }
    void closeAnswerWindowOnConnect(bool logConnected) override
    {
        answerWindowVisible = false;
        answerWindowLoggedConnected = logConnected;
    }
    bool isDialingWindowVisible() const override { return dialingWindowVisible; }
    void hideDialingWindow() override { dialingWindowVisible = false; }
    void dialingAnswered() override { ++dialingAnswers; }
    void returnToDialer() override
    {
        dialingWindowVisible = false;
        ++returnsToDialer;
    }
    QString dialerTimeText() override { return dialerTime; }
    void setModemConnected(bool value) override { connected = value; }
    void setDialerTimeText(const QString& text) override { dialerTime = text; }
    void showSettingsDialog() override { ++settingsDialogShown; }
    bool installation() const override { return installationFlag; }
    void setInstallation() override { installationFlag = true; }
    void disconnectCall() override { ++disconnectCalls; }
    void popupStatusMenu(const QPoint&) override { ++statusMenuPopups; }
    void toggleProgramsMenu() override { ++programsMenuToggles; }
    void showSendMessageWindow() override { ++sendMessageWindowShown; }
    void showAboutBox() override { ++aboutBoxShown; }
    void toggleInfoBox() override { ++infoBoxToggles; }
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
    QByteArrayList callCommands;
    QByteArrayList startUpRefusals;
    int modemHangUps = 0;
    bool modeWindowVisible = false;
    int settingsDialogShown = 0;
    bool installationFlag = false;
    int disconnectCalls = 0;
    int statusMenuPopups = 0;
    int programsMenuToggles = 0;
    int sendMessageWindowShown = 0;
    int aboutBoxShown = 0;
    int infoBoxToggles = 0;
    bool answerWindowVisible = false;
    int answerWindowRings = 0;
    QStringList answerWindowFailures;
    bool answerWindowLoggedConnected = false;
    bool dialingWindowVisible = false;
    int returnsToDialer = 0;
    int dialingAnswers = 0;
    QString dialerTime = QStringLiteral("00:00:00");
    // Tests that need a real status window set this; statusWindow() then builds it once.
    std::function<std::shared_ptr<Form2>(Engine&)> statusWindowFactory;
    // Tells which local connection stands for the modem window's own; none by default.
    std::function<bool(const QHostAddress&, quint16)> ownRelayConnection;
    TrafficCounters trafficCounters;
    int trafficCounterChanges = 0;
    bool compressionTicked = false;
    QByteArrayList userMessages;

private:
    QTemporaryDir dir_;
    quint16 channelPort_ = 0;
    std::unique_ptr<SerialPort> port_;
    std::shared_ptr<Form2> status_;
};

// A free TCP port on the loopback interface, for servers under test.
quint16 freeTcpPort();

} // namespace tellaran::testing
