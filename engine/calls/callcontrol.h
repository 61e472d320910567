#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

namespace tellaran {

class Dialer;
class Engine;
class Form3;
class Form4;
class Form5;
class Form6;

// The call windows of one engine: the mode window (Form3), the answer window (Form4), the
// dialer (Dialer), the add-entry window (Form5) and the dialing window (Form6). A window is
// loaded the first time anything reaches it: its getter builds it and runs its load step;
// the isXLoaded() queries never load. Unloading deletes a window, so its next use builds it
// afresh (Form3 then checks the data files again, Form6 comes back collapsed).
class CallControl : public QObject
{
    Q_OBJECT
public:
    explicit CallControl(Engine& engine, QObject* parent = nullptr);
    ~CallControl() override;

    Form3& form3();
    Form4& form4();
    Dialer& dialer();
    Form5& form5();
    Form6& form6();
    bool isForm3Loaded() const { return !form3_.isNull(); }
    bool isForm4Loaded() const { return !form4_.isNull(); }
    bool isDialerLoaded() const { return !dialer_.isNull(); }
    bool isForm5Loaded() const { return !form5_.isNull(); }
    bool isForm6Loaded() const { return !form6_.isNull(); }
    bool isModeWindowVisible() const;
    bool isDialerVisible() const;

    // The splash screen's hand-over: shows the mode window (loading it checks the data
    // files), then hides it again when the first-run set-up has run, leaving the settings
    // dialog in front.
    void startAtModeWindow();
    void showModeWindow();
    void hideModeWindow();
    void unloadModeWindow();
    // "Call Mode" and "Answer Mode".
    void showDialer();
    void showAnswerWindow();
    // "Add" in the dialer.
    void showAddWindow();
    void unloadAddWindow();

    // "Go !": hides the dialer, shows the dialing window, opens the port if needed and sends
    // the dial command. The dialing watchdog runs from then until the modem connects or
    // reports a failure.
    void PlaceCall();
    // How long the dialing window waits for the modem's answer to the dial command.
    void setDialWatchdogInterval(int milliseconds) { dialWatchdog_.setInterval(milliseconds); }
    const QTimer& dialWatchdog() const { return dialWatchdog_; }
    // "Disconnect" in the status window; ignored while one is under way.
    void DisconnectCall();

    // What the modem receive path does to these windows. None of them loads a window,
    // except the dialer time field, which loads the dialer unseen.
    bool isAnswerWindowVisible() const;
    void showAnswerWindowRinging();
    void showAnswerWindowFailed(const QString& failure);
    void closeAnswerWindowOnConnect(bool logConnected);
    bool isDialingWindowVisible() const;
    void dialingAnswered() { dialWatchdog_.stop(); }
    void hideDialingWindow();
    void returnToDialer();
    QString dialerTimeText();
    void setDialerTimeText(const QString& text);

    // The program is ending: every window hides without its own closing steps.
    void shutDown();

private:
    void dialingGotNoAnswer();

    Engine& engine_;
    QTimer dialWatchdog_;
    bool disconnecting_ = false;
    // The program is ending: what was waiting for the modem goes no further.
    bool ending_ = false;
    QPointer<Form3> form3_;
    QPointer<Form4> form4_;
    QPointer<Dialer> dialer_;
    QPointer<Form5> form5_;
    QPointer<Form6> form6_;
};

} // namespace tellaran
