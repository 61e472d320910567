#include "platform/serialport.h"

#include "platform/portopenlog.h"
#include "platform/realserialbackend.h"

#include <QPointer>
#include <QScopeGuard>
#include <limits>
#include <unistd.h>
#include <utility>

namespace tellaran {

namespace {

// The receive buffer never holds less than this, whatever InBufferSize says: the engine
// reads everything at each event, and a small InBufferSize must not cost data when a fast
// line delivers a large block at once.
constexpr qsizetype minimumReceiveCapacity = 1 << 20;

int clampToInt(qint64 value)
{
    return static_cast<int>(qMin<qint64>(value, std::numeric_limits<int>::max()));
}

} // namespace

QString defaultExchangeDir()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/tellaran-exchange");
    return QStringLiteral("/tmp/tellaran-exchange-") + QString::number(::getuid());
}

struct SerialPort::Private
{
    SerialEnvironment environment;
    SerialLineSettings line;
    int commPort = 1;
    int rThreshold = 0;
    int sThreshold = 0;
    int inputLen = 0;
    int inputMode = 0;

    bool open = false;
    bool carrier = false;
    QString lastError;
    // The failed opening logged last, so that repeats do not warn again.
    QString lastLoggedFailure;
    int commEvent = 0;
    int eventDepth = 0;
    QByteArray received;

    std::unique_ptr<SerialBackend> backend;
    // CommPort and target the backend was built for.
    QString backendKey;
};

SerialPort::SerialPort(SerialEnvironment environment, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->environment = std::move(environment);
}

SerialPort::~SerialPort()
{
    if (d->backend) {
        disconnect(d->backend.get(), nullptr, this, nullptr);
        if (d->open)
            d->backend->close();
    }
}

void SerialPort::setCommPort(int port)
{
    d->commPort = port;
}

int SerialPort::CommPort() const
{
    return d->commPort;
}

void SerialPort::setSettings(const QString& settings)
{
    d->line.settings = settings;
}

QString SerialPort::Settings() const
{
    return d->line.settings;
}

void SerialPort::setInBufferSize(int size)
{
    d->line.inBufferSize = size;
}

int SerialPort::InBufferSize() const
{
    return d->line.inBufferSize;
}

void SerialPort::setOutBufferSize(int size)
{
    d->line.outBufferSize = size;
}

int SerialPort::OutBufferSize() const
{
    return d->line.outBufferSize;
}

void SerialPort::setParityReplace(const QByteArray& replace)
{
    d->line.parityReplace = replace;
}

QByteArray SerialPort::ParityReplace() const
{
    return d->line.parityReplace;
}

void SerialPort::setHandshaking(int mode)
{
    d->line.handshaking = mode;
}

int SerialPort::Handshaking() const
{
    return d->line.handshaking;
}

void SerialPort::setDTREnable(bool on)
{
    d->line.dtrEnable = on;
    if (d->open)
        d->backend->setDtr(on);
}

bool SerialPort::DTREnable() const
{
    return d->line.dtrEnable;
}

void SerialPort::setRTSEnable(bool on)
{
    d->line.rtsEnable = on;
    if (d->open)
        d->backend->setRts(on);
}

bool SerialPort::RTSEnable() const
{
    return d->line.rtsEnable;
}

void SerialPort::setRThreshold(int threshold)
{
    d->rThreshold = threshold;
}

int SerialPort::RThreshold() const
{
    return d->rThreshold;
}

void SerialPort::setSThreshold(int threshold)
{
    d->sThreshold = threshold;
}

int SerialPort::SThreshold() const
{
    return d->sThreshold;
}

void SerialPort::setInputLen(int length)
{
    d->inputLen = length;
}

int SerialPort::InputLen() const
{
    return d->inputLen;
}

void SerialPort::setInputMode(int mode)
{
    d->inputMode = mode;
}

int SerialPort::InputMode() const
{
    return d->inputMode;
}

void SerialPort::setNullDiscard(bool on)
{
    d->line.nullDiscard = on;
}

bool SerialPort::NullDiscard() const
{
    return d->line.nullDiscard;
}

void SerialPort::setPortOpen(bool open)
{
    if (open == d->open)
        return;
    if (!open) {
        // Marked closed first: whatever the backend reports while closing is not an event.
        d->open = false;
        d->carrier = false;
        d->received.clear();
        d->backend->close();
        return;
    }

    const portmap::PortTarget target =
        portmap::resolvePortFromFile(d->environment.portMapFile, d->commPort);
    // Every opening goes to the troubleshooting log, with its outcome.
    const auto logOpening = qScopeGuard([this, &target] {
        LogPortOpening({d->commPort, target.text(), Settings(), d->open, d->lastError},
                       &d->lastLoggedFailure);
    });
    if (target.kind == portmap::PortTarget::NoDevice) {
        d->lastError =
            QStringLiteral("Cannot open port %1: there is no such port").arg(d->commPort);
        return;
    }
    SerialBackend* backend = backendFor(target);
    if (!backend) {
        d->lastError = QStringLiteral("Cannot open %1: no driver for it").arg(target.text());
        return;
    }
    QString error;
    if (!backend->open(d->line, &error)) {
        d->lastError =
            error.isEmpty() ? QStringLiteral("Cannot open %1").arg(target.text()) : error;
        return;
    }
    d->open = true;
    d->lastError.clear();
    d->received.clear();
    d->carrier = backend->carrierDetect();
}

SerialBackend* SerialPort::backendFor(const portmap::PortTarget& target)
{
    VirtualModemOptions modem;
    if (target.kind == portmap::PortTarget::VirtualModem) {
        modem.line = target.line;
        modem.exchangeDir = d->environment.exchangeDir.isEmpty() ? defaultExchangeDir()
                                                                 : d->environment.exchangeDir;
        if (d->environment.virtualLineRate >= 0)
            modem.lineRate = d->environment.virtualLineRate;
        else if (target.lineRate >= 0)
            modem.lineRate = target.lineRate;
        modem.replyDelayMs = target.replyDelayMs;
        modem.rejectedCommands = target.rejectedCommands;
        modem.ignoreDtr = target.ignoreDtr;
    }
    const QString key = QString::number(d->commPort) + QLatin1Char('\n') + target.text() +
                        QLatin1Char('\n') + modem.exchangeDir + QLatin1Char('\n') +
                        QString::number(modem.lineRate);
    if (d->backend && key == d->backendKey)
        return d->backend.get();

    if (d->backend) {
        // It may be the sender of the signal whose handler is opening the port now.
        disconnect(d->backend.get(), nullptr, this, nullptr);
        d->backend.release()->deleteLater();
        d->backendKey.clear();
    }
    std::unique_ptr<SerialBackend> made;
    if (d->environment.backendFactory)
        made = d->environment.backendFactory(target, modem);
    else if (target.kind == portmap::PortTarget::VirtualModem)
        made = createVirtualModem(modem);
    else
        made = std::make_unique<RealSerialBackend>(target.device);
    if (!made)
        return nullptr;
    made->setParent(this);
    connect(made.get(), &SerialBackend::readyRead, this, &SerialPort::onReceived);
    connect(made.get(), &SerialBackend::carrierChanged, this, &SerialPort::onCarrierChanged);
    connect(made.get(), &SerialBackend::outputDrained, this, &SerialPort::onOutputDrained);
    connect(made.get(), &SerialBackend::lineError, this, &SerialPort::onLineError);
    connect(made.get(), &SerialBackend::failed, this, &SerialPort::onFailed);
    d->backend = std::move(made);
    d->backendKey = key;
    return d->backend.get();
}

bool SerialPort::PortOpen() const
{
    return d->open;
}

QString SerialPort::LastError() const
{
    return d->lastError;
}

QString SerialPort::DeviceName() const
{
    return portmap::resolvePortFromFile(d->environment.portMapFile, d->commPort).text();
}

void SerialPort::Output(const QByteArray& bytes)
{
    if (!d->open || bytes.isEmpty())
        return;
    d->backend->write(bytes);
}

QByteArray SerialPort::takeFromBackend()
{
    QByteArray bytes = d->backend->readAll();
    if (d->line.nullDiscard)
        bytes.removeIf([](char c) { return c == '\0'; });
    return bytes;
}

QByteArray SerialPort::Input()
{
    if (d->open)
        d->received.append(takeFromBackend());
    if (d->inputLen <= 0 || d->received.size() <= d->inputLen)
        return std::exchange(d->received, QByteArray());
    QByteArray head = d->received.left(d->inputLen);
    d->received.remove(0, d->inputLen);
    return head;
}

int SerialPort::InBufferCount() const
{
    const qint64 waiting = d->open ? d->backend->bytesAvailable() : 0;
    return clampToInt(d->received.size() + waiting);
}

int SerialPort::OutBufferCount() const
{
    // A closed port has nothing left to send, so a drain waiting for 0 ends.
    return d->open ? clampToInt(d->backend->outputPending()) : 0;
}

bool SerialPort::CDHolding() const
{
    return d->open && d->backend->carrierDetect();
}

bool SerialPort::CDReadable() const
{
    return d->open && d->backend->canReadCarrierDetect();
}

void SerialPort::setInBufferCount(int count)
{
    if (count != 0)
        return;
    d->received.clear();
    if (d->open)
        d->backend->discardInput();
}

int SerialPort::CommEvent() const
{
    return d->commEvent;
}

SerialBackend* SerialPort::backend() const
{
    return d->backend.get();
}

void SerialPort::raise(int code)
{
    QPointer<SerialPort> alive(this);
    const int outer = d->commEvent;
    d->commEvent = code;
    ++d->eventDepth;
    emit OnComm();
    if (!alive)
        return;
    // Inside an outer handler the outer event is current again; afterwards the last event
    // delivered stays readable, as the classic control keeps it.
    --d->eventDepth;
    if (d->eventDepth > 0)
        d->commEvent = outer;
}

void SerialPort::onReceived()
{
    if (!d->open)
        return;
    QByteArray bytes = takeFromBackend();
    if (bytes.isEmpty())
        return;
    const qsizetype capacity = qMax<qsizetype>(d->line.inBufferSize, minimumReceiveCapacity);
    const qsizetype room = qMax<qsizetype>(0, capacity - d->received.size());
    const bool overflow = bytes.size() > room;
    if (overflow)
        bytes.truncate(room);
    d->received.append(bytes);

    QPointer<SerialPort> alive(this);
    if (overflow) {
        raise(comEventRxBufferFull);
        if (!alive || !d->open)
            return;
    }
    if (d->rThreshold > 0 && d->received.size() >= d->rThreshold)
        raise(comEvReceive);
}

void SerialPort::onCarrierChanged(bool on)
{
    if (!d->open)
        return;
    d->carrier = on;
    raise(comEvCD);
}

void SerialPort::onOutputDrained()
{
    if (d->open && d->sThreshold > 0)
        raise(comEvSend);
}

void SerialPort::onLineError(int code)
{
    if (d->open)
        raise(code);
}

void SerialPort::onFailed(const QString& reason)
{
    if (!d->open)
        return;
    const bool hadCarrier = d->carrier;
    d->open = false;
    d->carrier = false;
    d->received.clear();
    d->lastError = reason;
    QPointer<SerialPort> alive(this);
    emit PortFailed(reason);
    // The call went with the device; the engine learns it as it learns of any lost carrier.
    if (alive && hadCarrier && !d->open)
        raise(comEvCD);
}

} // namespace tellaran
