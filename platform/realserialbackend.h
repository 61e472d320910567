#pragma once

#include "platform/serialbackend.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

namespace tellaran {

// Line parameters taken from a settings text such as "9600,n,8,1".
struct SerialLineParameters
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Reads "<baud>,<parity>,<data bits>,<stop bits>": a positive baud rate, parity one of
// n e o m s (either case), data bits 5 to 8, stop bits 1, 1.5 or 2; blanks around a field
// are allowed. Anything else is refused (false, and why in *error) rather than guessed, so
// that a mistyped setting shows up as a failed open instead of a garbled line.
bool parseSerialSettings(const QString& text, SerialLineParameters* parameters, QString* error);

// Received bytes with parity marking on: a byte that arrived with a parity or framing error
// comes as 0xFF 0x00 <byte> and a real 0xFF as 0xFF 0xFF. The decoder replaces each marked
// byte with the replacement (nothing when it is empty), undoubles 0xFF, and carries an
// incomplete mark over to the next chunk.
class ParityMarkDecoder
{
public:
    QByteArray decode(const QByteArray& chunk, const QByteArray& replacement, int* errors);
    void reset() { carry_.clear(); }

private:
    QByteArray carry_;
};

// What the modem lines and the driver's error counters say.
struct LineState
{
    // The device is gone (unplugged): reading its lines fails with an I/O error.
    bool deviceGone = false;
    // Carrier detect; empty when the device has no modem lines (a pseudo-terminal).
    std::optional<bool> carrierDetect;
    // Receive overruns counted by the driver (hardware and buffer); empty when it counts none.
    std::optional<quint64> overruns;
};

// Reads the line state of an open descriptor (TIOCMGET and TIOCGICOUNT).
LineState readLineState(int descriptor);
using LineStateProbe = std::function<LineState(int descriptor)>;

// A serial device through QSerialPort.
//
// Carrier detect and the overrun counter are polled every 50 ms while the port is open,
// since Qt signals neither; a change raises carrierChanged, a new overrun lineError(1006).
// While output is pending its count is polled every 5 ms so that outputDrained follows the
// last byte promptly. Received data and device failures are passed on from the event loop
// (queued), never from inside QSerialPort's own notifications, so a handler may close the
// port or run a nested event loop.
//
// Parity: Qt sets the terminal to drop bytes received with a parity error and has no
// replacement policy. When the settings ask for parity, the port is switched to parity
// marking instead: each damaged byte is replaced by ParityReplace (dropped when that is
// empty) and lineError(1009) is raised once per received block that held any.
//
// Handshaking 1 is XON/XOFF, 2 and 3 are RTS/CTS (Qt cannot do both at once).
class RealSerialBackend : public SerialBackend
{
    Q_OBJECT
public:
    explicit RealSerialBackend(const QString& device, QObject* parent = nullptr);
    ~RealSerialBackend() override;

    // Replaces the line-state reader (tests drive carrier changes through it).
    void setLineStateProbe(LineStateProbe probe);

    bool open(const SerialLineSettings& settings, QString* error) override;
    // Lets pending output drain first, for at most closeDrainLimitMs and only while it
    // moves, so that a command written just before closing still reaches the modem. A
    // blocking wait, not an event loop: nothing else runs while the port closes.
    void close() override;
    bool isOpen() const override;

    void write(const QByteArray& bytes) override;
    QByteArray readAll() override;
    qint64 bytesAvailable() const override;
    // Qt's buffer plus the driver's output queue.
    qint64 outputPending() const override;

    bool carrierDetect() const override;
    bool canReadCarrierDetect() const override { return serial_.isOpen() && carrierReadable_; }
    // The driver's input queue as well: a reply that came before is no reply to what follows.
    void discardInput() override;
    void setDtr(bool on) override;
    void setRts(bool on) override;

    static constexpr int carrierPollMs = 50;
    static constexpr int outputPollMs = 5;
    static constexpr int closeDrainLimitMs = 2000;
    static constexpr int closeStallLimitMs = 250;

private:
    void takeReceived(quint64 session);
    void pollLineState();
    void pollOutput();
    void onSerialError(QSerialPort::SerialPortError error);
    void fail(const QString& reason);
    void shutDown();
    qint64 kernelOutputQueue() const;
    bool enableParityMarking();

    QString device_;
    QSerialPort serial_;
    QTimer carrierTimer_;
    QTimer outputTimer_;
    LineStateProbe probe_;
    // Raised on every open and close; queued work of an earlier session is dropped.
    quint64 session_ = 0;
    bool receiveScheduled_ = false;
    bool failureScheduled_ = false;
    bool hardwareHandshake_ = false;
    bool parityMarking_ = false;
    QByteArray parityReplace_;
    ParityMarkDecoder decoder_;
    QByteArray received_;
    bool carrier_ = false;
    bool carrierReadable_ = false;
    std::optional<quint64> overruns_;
};

} // namespace tellaran
