#pragma once

#include "engine/messageboxservice.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHostAddress>
#include <QPoint>
#include <QString>
#include <QtGlobal>

namespace tellaran {

class Form2;

// What the status window's display area shows, as chosen in the Status menu.
enum class StatusView
{
    SpeedLines,
    ConnectionLines,
    AutoScroll
};
class SerialPort;

// The info box's traffic counters. Each starts at 0 and only grows, except noofchan, which
// follows the channel table.
struct TrafficCounters
{
    qint64 noofchan = 0;
    qint64 bytessent = 0;
    qint64 bytesreceived = 0;
    qint64 nooftrans = 0;
};

// What the parts of one engine ask of the whole. Subsystems lower in the tree (channels)
// reach higher ones (the modem window, the windows of later parts) only through this
// interface, so that each library links just what it needs and a test can stand in for the
// rest. Nothing here is static: a process may hold several engines.
class Engine
{
public:
    virtual ~Engine() = default;

    // The engine program's directory; its data files live in programDir() + "/data/".
    virtual QString programDir() const = 0;
    QString dataPath(const QString& fileName) const
    {
        return programDir() + QStringLiteral("/data/") + fileName;
    }
    // The user guide the Help buttons open.
    virtual QString helpFile() const { return programDir() + QStringLiteral("/help.html"); }
    // TCP port of the channel server (6789 in production).
    virtual quint16 channelPort() const = 0;

    virtual MessageBoxService& messageBoxes() = 0;
    // Ends the program: every window closes without its own closing steps, files, sockets
    // and the port close, and the event loop ends.
    virtual void endProgram() = 0;

    // The modem window's Connected flag. Reading it never loads the modem window; it reads
    // false until that window is loaded.
    virtual bool modemConnected() const = 0;
    // Whether the modem window is loaded (its start-up has run).
    virtual bool isModemWindowLoaded() const = 0;
    // Whether a local connection whose far end is peer:peerPort is the modem window's own
    // connection to the channel server. Never loads the modem window.
    virtual bool isOwnRelayConnection(const QHostAddress& peer, quint16 peerPort) const = 0;
    // The modem window's serial port; reaching it loads the modem window first.
    virtual SerialPort& modemPort() = 0;
    // Writes the answer or dial command (with its line end) to the modem's open port. What
    // the modem said before is thrown away first: only its reply to this command counts for
    // the call.
    virtual void writeCallCommand(const QByteArray& command) = 0;
    // The start-up commands the modem refused or left unanswered, in order; none before the
    // modem window is loaded.
    virtual QByteArrayList modemStartUpRefusals() const = 0;
    // Hangs the modem up and closes its port: DTR first, and when that may not be enough,
    // the escape and "ATH". Does nothing when the port is not open; never loads the modem
    // window.
    virtual void hangUpModem() = 0;

    // The info box's counters.
    virtual TrafficCounters& counters() = 0;
    // Whoever changes a counter says so; the first change of a run brings out the info box.
    virtual void trafficCountersChanged() = 0;
    // Whether "Use data compression" is ticked: in the settings dialog while it is open
    // (saved or not), otherwise in the settings file. Loads no window.
    virtual bool useCompressionTicked() = 0;

    // A user message relayed from the other computer: shown in a new message window.
    virtual void showUserMessage(const QByteArray& text) = 0;

    // The status window, which owns the channel server; reaching it loads it (hidden).
    virtual Form2& statusWindow() = 0;
    virtual bool isStatusWindowLoaded() const = 0;

    // What the modem window tells the status window during a call. Each loads the status
    // window (hidden) when it is not loaded yet.
    virtual void showStatusWindow() = 0;
    virtual void hideStatusWindow() = 0;
    // The call's clock starts now, with its "Connected at" line; callClockStarted() says
    // whether it has started in this run.
    virtual void startCallClock() = 0;
    virtual bool callClockStarted() = 0;
    // The status window's connection clock starts ticking (a call this computer placed).
    virtual void startConnectionClockTicks() = 0;
    // Characters read from the modem, for the status window's speed reading.
    virtual void countReceivedForSpeed(qint64 characters) = 0;
    // The call has ended: every channel record goes.
    virtual void deleteChannelTable() = 0;
    // The Status menu's items and the incoming-activity arrow.
    virtual void setStatusView(StatusView view) = 0;
    virtual void setInflowShown(bool shown) = 0;

    // The call windows as the modem receive path sees them. None of these loads a window
    // that is not loaded yet, except dialerTimeText().
    virtual bool isAnswerWindowVisible() const = 0;
    // "RING" while the answer window is visible: ringing picture, "Connecting..." state.
    virtual void showAnswerWindowRinging() = 0;
    // The modem reported `failure` (NO CARRIER, ERROR) while the answer window was visible:
    // the window logs it and goes back to waiting.
    virtual void showAnswerWindowFailed(const QString& failure) = 0;
    // The call came up while the answer window was visible: log it (when `logConnected`),
    // stop the strip and hide the window.
    virtual void closeAnswerWindowOnConnect(bool logConnected) = 0;
    virtual bool isDialingWindowVisible() const = 0;
    // The modem answered the dial command with a failure: the dialing window no longer
    // waits on it (its watchdog stops), though it stays until the failure has been shown.
    virtual void dialingAnswered() = 0;
    virtual void hideDialingWindow() = 0;
    // A call failed while dialing: unload the dialing window and show the dialer again.
    virtual void returnToDialer() = 0;
    // The dialer's time field; reading it loads the dialer, unseen, if it is not loaded.
    virtual QString dialerTimeText() = 0;

    // Sets the modem window's Connected flag (the disconnect clears it before the end).
    virtual void setModemConnected(bool connected) = 0;
    // Writes the dialer's time field, loading the dialer unseen if it is not loaded.
    virtual void setDialerTimeText(const QString& text) = 0;

    // The mode window (call or answer mode). The settings dialog hides it while it is open
    // and shows it again when it closes.
    virtual void showModeWindow() = 0;
    virtual void hideModeWindow() = 0;
    // The settings dialog, shown modeless (loaded on first use).
    virtual void showSettingsDialog() = 0;
    // Set by the first-run set-up, never reset: the start-up then keeps the mode window
    // hidden behind the settings dialog.
    virtual bool installation() const = 0;
    virtual void setInstallation() = 0;

    // The modem window's "Status" menu, popped up at a screen position (loads the modem
    // window if needed).
    virtual void popupStatusMenu(const QPoint& globalPosition) = 0;

    // What the status window's buttons open.
    virtual void disconnectCall() = 0;
    virtual void toggleProgramsMenu() = 0;
    virtual void showSendMessageWindow() = 0;
    virtual void showAboutBox() = 0;
    virtual void toggleInfoBox() = 0;
};

} // namespace tellaran
