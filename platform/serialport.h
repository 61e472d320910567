#pragma once

#include "platform/portmap.h"
#include "platform/serialbackend.h"
#include "platform/virtualmodem.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace tellaran {

// Where a serial port finds its devices and its virtual modem's exchange.
struct SerialEnvironment
{
    // The port map, "data/ports.dat" of the program; a missing file maps nothing.
    QString portMapFile;
    // Folder of the exchange through which virtual modems call each other
    // (empty: defaultExchangeDir()).
    QString exchangeDir;
    // Line rate of the virtual modem in bit/s, overriding what the port map says;
    // 0 means unpaced, below 0 means no override.
    int virtualLineRate = -1;
    // Builds the backend for a port instead of the built-in ones (tests). `modem` holds the
    // virtual modem's options, resolved as above, when the target is a modem.
    using BackendFactory = std::function<std::unique_ptr<SerialBackend>(
        const portmap::PortTarget& target, const VirtualModemOptions& modem)>;
    BackendFactory backendFactory;
};

// The per-user exchange folder: $XDG_RUNTIME_DIR/tellaran-exchange, or
// /tmp/tellaran-exchange-<uid> when there is no runtime folder.
QString defaultExchangeDir();

// The serial port control the engine drives (the modem window's MSComm1). Properties and
// operations keep the classic control's names. Events arrive as one OnComm signal; the code
// is read from CommEvent() inside the handler, and stays right for it even when the handler
// runs a nested event loop in which further events are delivered.
//
// Which device CommPort means is read from the port map at each open. The backend object is
// kept while CommPort and its target stay the same (a virtual modem keeps its registers).
//
// Received bytes are held up to max(InBufferSize, 1 MiB); past that they are dropped and
// event 1008 is raised. Output is never refused; a backend that has to drop output reports
// 1010. A device that fails closes the port and is reported once by PortFailed; if carrier
// was up, OnComm 5 follows, since the call is gone.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    enum CommEventCode
    {
        comEvSend = 1,    // output buffer fell below SThreshold
        comEvReceive = 2, // at least RThreshold bytes received
        comEvCD = 5,      // carrier detect changed
        comEventRxOver = 1006,
        comEventRxParity = 1009,
        comEventOverrun = 1006,
        comEventRxBufferFull = 1008,
        comEventTxFull = 1010,
    };

    explicit SerialPort(SerialEnvironment environment, QObject* parent = nullptr);
    ~SerialPort() override;

    // Set-up properties. They take effect at the next open (DTREnable and RTSEnable at once).
    void setCommPort(int port);
    int CommPort() const;
    void setSettings(const QString& settings);
    QString Settings() const;
    void setInBufferSize(int size);
    int InBufferSize() const;
    void setOutBufferSize(int size);
    int OutBufferSize() const;
    void setParityReplace(const QByteArray& replace);
    QByteArray ParityReplace() const;
    void setHandshaking(int mode);
    int Handshaking() const;
    void setDTREnable(bool on);
    bool DTREnable() const;
    void setRTSEnable(bool on);
    bool RTSEnable() const;
    void setRThreshold(int threshold);
    int RThreshold() const;
    void setSThreshold(int threshold);
    int SThreshold() const;
    void setInputLen(int length);
    int InputLen() const;
    void setInputMode(int mode);
    int InputMode() const;
    void setNullDiscard(bool on);
    bool NullDiscard() const;

    // Opens or closes the port at once. Opening an open port, or closing a closed one, does
    // nothing. A failed open leaves the port closed and sets LastError().
    void setPortOpen(bool open);
    bool PortOpen() const;
    // Why the last open failed, or why the device failed, naming the device. Cleared by a
    // successful open.
    QString LastError() const;
    // The device or virtual line the current CommPort means, as text.
    QString DeviceName() const;

    // Queues the bytes and returns at once. Ignored while the port is closed.
    void Output(const QByteArray& bytes);
    // What was received and not yet read: everything with InputLen 0, else at most InputLen
    // bytes. Bytes either way, whatever InputMode says.
    QByteArray Input();
    int InBufferCount() const;
    // Setting 0 throws away everything received and not yet read, the device's own buffer
    // included; other values do nothing.
    void setInBufferCount(int count);
    // Bytes still waiting to be sent.
    int OutBufferCount() const;
    bool CDHolding() const;
    // Whether the open device reports carrier detect at all (a line without it reads off).
    bool CDReadable() const;
    // The code of the event being signalled.
    int CommEvent() const;

    // The backend of the last open, open or not; null before the first open.
    SerialBackend* backend() const;

Q_SIGNALS:
    void OnComm();
    // The open port's device failed (unplugged, read error); the port has closed itself and
    // LastError() holds the reason.
    void PortFailed(const QString& reason);

private:
    struct Private;
    void raise(int code);
    void onReceived();
    void onCarrierChanged(bool on);
    void onOutputDrained();
    void onLineError(int code);
    void onFailed(const QString& reason);
    SerialBackend* backendFor(const portmap::PortTarget& target);
    QByteArray takeFromBackend();
    std::unique_ptr<Private> d;
};

} // namespace tellaran
