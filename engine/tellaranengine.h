#pragma once

#include "engine/calls/connectiontimekeeper.h"
#include "engine/engine.h"
#include "platform/serialport.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

namespace tellaran {

class CallControl;
class Form1;
class Form2;
class Form7;
class Form8;
class Form9;
class Form10;
class Launcher;
class MessageWindows;
class datafrm;
class frmSplash;

// One engine: every window and all state of one running Tellaran. Windows are loaded the
// first time anything reaches them; the isXLoaded() queries never load. Nothing is global,
// so a process can hold two engines (each with its own program folder, channel port and
// virtual modem), as the tests do.
class TellaranEngine : public QObject, public Engine
{
    Q_OBJECT
public:
    struct Options
    {
        // The folder whose data/ holds the data files (production: the program's folder).
        QString programDir;
        // The user guide; empty means help.html in programDir.
        QString helpFile;
        // The channel server's port (production: 6789).
        quint16 channelPort = 6789;
        // Where the serial port finds its devices and the virtual modem its exchange;
        // an empty portMapFile means programDir/data/ports.dat.
        SerialEnvironment serial;
        // Message boxes; null means real modal boxes.
        std::shared_ptr<MessageBoxService> messageBoxes;
        // Runs when the program ends; null means quitting the application's event loop.
        std::function<void()> onEnd;
    };

    explicit TellaranEngine(Options options, QObject* parent = nullptr);
    ~TellaranEngine() override;

    // Engine
    QString programDir() const override { return options_.programDir; }
    QString helpFile() const override
    {
        return options_.helpFile.isEmpty() ? Engine::helpFile() : options_.helpFile;
    }
    quint16 channelPort() const override { return options_.channelPort; }
    MessageBoxService& messageBoxes() override { return *options_.messageBoxes; }
    void endProgram() override;
    bool modemConnected() const override;
    bool isModemWindowLoaded() const override { return form1_ != nullptr; }
    bool isOwnRelayConnection(const QHostAddress& peer, quint16 peerPort) const override;
    SerialPort& modemPort() override;
    void writeCallCommand(const QByteArray& command) override;
    QByteArrayList modemStartUpRefusals() const override;
    void hangUpModem() override;
    TrafficCounters& counters() override { return counters_; }
    void trafficCountersChanged() override;
    bool useCompressionTicked() override;
    void showUserMessage(const QByteArray& text) override;
    Form2& statusWindow() override;
    bool isStatusWindowLoaded() const override { return form2_ != nullptr; }
    void showStatusWindow() override;
    void hideStatusWindow() override;
    void startCallClock() override;
    bool callClockStarted() override;
    void startConnectionClockTicks() override;
    void countReceivedForSpeed(qint64 characters) override;
    void deleteChannelTable() override;
    void setStatusView(StatusView view) override;
    void setInflowShown(bool shown) override;
    bool isAnswerWindowVisible() const override;
    void showAnswerWindowRinging() override;
    void showAnswerWindowFailed(const QString& failure) override;
    void closeAnswerWindowOnConnect(bool logConnected) override;
    bool isDialingWindowVisible() const override;
    void dialingAnswered() override;
    void hideDialingWindow() override;
    void returnToDialer() override;
    QString dialerTimeText() override;
    void setModemConnected(bool connected) override;
    void setDialerTimeText(const QString& text) override;
    void showModeWindow() override;
    void hideModeWindow() override;
    void showSettingsDialog() override;
    bool installation() const override { return installation_; }
    void setInstallation() override { installation_ = true; }
    void disconnectCall() override;
    void popupStatusMenu(const QPoint& globalPosition) override;
    void toggleProgramsMenu() override;
    void showSendMessageWindow() override;
    void showAboutBox() override;
    void toggleInfoBox() override;

    // The modem window; reaching it loads the status window first, then runs the start-up.
    Form1& form1();
    // The settings dialog, loaded on first use and forgotten when it unloads itself.
    Form7& form7();
    bool isForm7Loaded() const { return form7_ != nullptr; }

    // The call windows: mode, answer, dialer, add-entry and dialing windows.
    CallControl& calls() { return *calls_; }
    // The programs menu and the program list editor.
    Launcher& launcher() { return *launcher_; }
    // The first window of a run: the splash screen, which hands over to the mode window.
    void start();
    frmSplash* splashScreen() const;

    // Whether the program has ended.
    bool hasEnded() const { return ended_; }

    // The info box; reaching it creates it, and it slides open.
    datafrm& infoBox();
    bool isInfoBoxLoaded() const { return infoBox_ != nullptr; }
    // The send window; reaching it creates it, hidden and unconnected.
    Form10& sendWindow();
    bool isSendWindowLoaded() const { return sendWindow_ != nullptr; }
    // The about box while it is open.
    Form8* aboutBox() const;
    // The open message windows, oldest first, and their messages.
    QList<Form9*> messageWindows() const;
    QByteArrayList openMessages() const;
    // Messages dropped since the newest message window opened.
    qint64 droppedMessages() const;

Q_SIGNALS:
    // A user message arrived from the other computer.
    void userMessageReceived(const QByteArray& text);

private:
    Options options_;
    TrafficCounters counters_;
    // Stores the time of the call as it goes on.
    ConnectionTimeKeeper timeKeeper_;
    std::unique_ptr<Form2> form2_;
    std::unique_ptr<CallControl> calls_;
    std::unique_ptr<Launcher> launcher_;
    std::unique_ptr<Form1> form1_;
    QPointer<QWidget> form7_;
    std::unique_ptr<datafrm> infoBox_;
    std::unique_ptr<Form10> sendWindow_;
    std::unique_ptr<MessageWindows> messageWindows_;
    QPointer<QWidget> splash_;
    QPointer<QWidget> aboutBox_;
    bool destroying_ = false;
    bool ended_ = false;
    bool installation_ = false;
};

} // namespace tellaran
