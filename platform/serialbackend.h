#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tellaran {

// Line settings as the serial control takes them ("9600,n,8,1") plus the other set-up values.
struct SerialLineSettings
{
    QString settings = QStringLiteral("9600,n,8,1");
    int handshaking = 0; // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both
    bool dtrEnable = false;
    bool rtsEnable = false;
    QByteArray parityReplace = QByteArrayLiteral("?");
    bool nullDiscard = false;
    int inBufferSize = 1024;
    int outBufferSize = 512;
};

// What stands behind one serial port: a real device, or the built-in virtual modem.
// SerialPort (the control the engine sees) owns one backend and turns its signals into
// OnComm events. All calls return at once.
class SerialBackend : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialBackend() override = default;

    // Opens the port with `settings`. On failure returns false and describes why.
    virtual bool open(const SerialLineSettings& settings, QString* error) = 0;
    // Closes the port. A real device first lets pending output drain (bounded); the virtual
    // modem hangs up a call in progress.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Queues bytes for sending; returns at once.
    virtual void write(const QByteArray& bytes) = 0;
    // All received bytes not yet read.
    virtual QByteArray readAll() = 0;
    virtual qint64 bytesAvailable() const = 0;
    // Bytes written and not yet sent (on the line, for the modem).
    virtual qint64 outputPending() const = 0;

    virtual bool carrierDetect() const = 0;
    // Whether carrier detect means anything: a device without modem lines cannot tell it.
    virtual bool canReadCarrierDetect() const { return true; }
    // Throws away what was received and not read, in the device too.
    virtual void discardInput() { readAll(); }
    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;

Q_SIGNALS:
    // New bytes can be read.
    void readyRead();
    // Carrier detect changed to `on`.
    void carrierChanged(bool on);
    // outputPending() fell to 0.
    void outputDrained();
    // A line error: 1006 receive overrun, 1009 parity error, 1008 input buffer overflow.
    void lineError(int commEventCode);
    // The device failed (unplugged, read error) and the backend has closed itself.
    // Raised once per failure.
    void failed(const QString& reason);
};

} // namespace tellaran
