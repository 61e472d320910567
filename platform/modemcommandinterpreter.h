#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <array>
#include <optional>

class QDateTime;

namespace tellaran {

// Result codes of the modem, sent to the computer as words (V1) or numbers (V0).
enum class ModemResult
{
    Ok,
    Connect,
    Ring,
    NoCarrier,
    Error,
    NoDialTone,
    Busy,
    NoAnswer,
    // What some modems report and the test lines answer; they have no standard number and
    // come as words in V0 too, as RINGING, a progress line, does.
    NoDialToneOneWord, // "NO DIALTONE"
    Delayed,
    Blacklisted,
    Voice,
    Ringing,
};

// What a finished command line asks of the modem beyond its own settings.
struct ModemCommandOutcome
{
    enum class Call
    {
        None,     // settings only: answer OK, or ERROR
        Dial,     // ATD<dialString>
        Answer,   // ATA
        GoOnline, // ATO
    };
    Call call = Call::None;
    QByteArray dialString;
    // ATH or ATZ: end the call (or refuse the ringing one) before anything else.
    bool hangUp = false;
    // A command was not understood: ERROR instead of OK. Commands before it took effect.
    bool error = false;
    // Replies of ATI, ATSn? and AT+MS?, already framed, to send before the result.
    QByteArray information;
};

// The command side of the modem, free of sockets and timers: gathers the computer's typed
// bytes into command lines (with echo), keeps the S-registers and settings, and turns a
// finished line into an outcome that the modem carries out.
class ModemCommandInterpreter
{
public:
    // Longer command lines are answered with ERROR; further bytes are not even kept.
    static constexpr int maxLineLength = 255;

    // S-register numbers the modem itself reads.
    static constexpr int autoAnswerRings = 0; // S0: answer after this many rings; 0 never
    static constexpr int ringCount = 1;       // S1: rings of the current call
    static constexpr int escapeChar = 2;      // S2: '+'; above 127 disables the escape
    static constexpr int lineEndChar = 3;     // S3: carriage return
    static constexpr int lineFeedChar = 4;    // S4: line feed
    static constexpr int backspaceChar = 5;   // S5: backspace
    static constexpr int carrierWait = 7;     // S7: seconds to wait for the answer
    static constexpr int guardTime = 12;      // S12: escape guard time, 1/50 s

    ModemCommandInterpreter();

    // Takes bytes typed in command state up to and including the first one that finishes a
    // command line, and returns how many it took. The echo (as E says) is appended to
    // `echo`; a finished line ("AT..." without its line end) is stored in `line`. Bytes of
    // a line that does not start with "AT" are dropped without echo, so stray data (a link
    // frame written before any call) never comes back as if it were received.
    qsizetype type(QByteArrayView bytes, QByteArray& echo, std::optional<QByteArray>& line);
    // Forgets a half-typed line (when the modem goes online).
    void clearCommandBuffer();
    const QByteArray& commandBuffer() const { return m_buffer; }

    // Carries out the settings commands of one line and says what else it asks for.
    ModemCommandOutcome execute(const QByteArray& line);

    // The result as sent to the computer: framed by line ends ("\r\nOK\r\n"), or in V0 the
    // number and a carriage return ("0\r"). CONNECT carries the rate when there is one
    // (`connectRate` > 0); with W1 or W2 it comes in its extended form, after the carrier,
    // protocol and compression lines.
    QByteArray resultText(ModemResult result, int connectRate = 0) const;
    // One line of information text, framed the same way.
    QByteArray informationText(const QByteArray& text) const;
    // The caller-ID lines sent between the first and second RING (+VCID=1). An empty number
    // or name is sent as "O", not available.
    QByteArray callerIdText(const QDateTime& when, const QByteArray& number,
                            const QByteArray& name) const;

    int sRegister(int number) const;
    void setSRegister(int number, int value);
    bool echo() const { return m_echo; }
    // V0: numeric results.
    bool numericResults() const { return m_numeric; }
    // &C0: carrier detect always on; &C1 (default): it follows the carrier.
    bool carrierDetectAlwaysOn() const { return m_carrierDetectAlwaysOn; }
    // +VCID=1: caller-ID lines while an incoming call rings.
    bool callerIdEnabled() const { return m_callerId; }
    // +VNAME: the name this modem sends as the caller's when it calls.
    const QByteArray& callerName() const { return m_callerName; }
    // &D0: dropping DTR does nothing; &D2 (default): it hangs up.
    bool ignoresDtr() const { return m_ignoreDtr; }

    // The modem's own make-up, kept through ATZ: commands it does not know (answered with
    // ERROR, matched at the start of a command: "L" refuses "L 2", "%C3" only "%C3"), and
    // the &D setting it powers up with.
    void setRejectedCommands(const QByteArrayList& commands);
    void setPowerUpIgnoresDtr(bool ignore);

    // Factory settings (ATZ).
    void reset();

private:
    bool executeCommand(const QByteArray& body, qsizetype& pos, ModemCommandOutcome& outcome);
    bool executeExtended(const QByteArray& body, qsizetype& pos, ModemCommandOutcome& outcome);
    char lineEnd() const;
    char lineFeed() const;

    std::array<quint8, 256> m_registers{};
    bool m_echo = true;
    // Speaker, dialing method, result set and compression have no effect on a line that is
    // a socket: those commands are checked and accepted. The modulation is kept for +MS?.
    QByteArray m_modulation;
    bool m_numeric = false;
    // W0 plain CONNECT; W1, W2 the extended report.
    int m_connectReport = 0;
    bool m_carrierDetectAlwaysOn = false;
    bool m_callerId = false;
    QByteArray m_callerName;
    bool m_ignoreDtr = false;
    bool m_powerUpIgnoresDtr = false;
    // Upper case, without blanks or "AT".
    QByteArrayList m_rejected;

    // The line being typed, and whether the rest of it is being dropped (no "AT" prefix).
    QByteArray m_buffer;
    bool m_discarding = false;
};

} // namespace tellaran
