#include "platform/realserialbackend.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <cerrno>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace tellaran {

namespace {

bool isDeviceFailure(QSerialPort::SerialPortError error)
{
    // Other errors come from requests a device may refuse without being broken: a
    // pseudo-terminal has no modem lines to set, and the close drain may time out.
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
           error == QSerialPort::WriteError;
}

} // namespace

bool parseSerialSettings(const QString& text, SerialLineParameters* parameters, QString* error)
{
    const auto refuse = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("invalid settings \"%1\": %2").arg(text, why);
        return false;
    };
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return refuse(QStringLiteral("expected speed,parity,data bits,stop bits"));

    SerialLineParameters result;
    bool ok = false;
    const QString baud = fields[0].trimmed();
    result.baudRate = baud.toInt(&ok);
    if (!ok || result.baudRate <= 0 || baud.startsWith(QLatin1Char('+')))
        return refuse(QStringLiteral("the speed must be a positive number"));

    const QString parity = fields[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        result.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        result.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        result.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        result.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        result.parity = QSerialPort::SpaceParity;
    else
        return refuse(QStringLiteral("the parity must be n, e, o, m or s"));

    const QString dataBits = fields[2].trimmed();
    if (dataBits == QLatin1String("5"))
        result.dataBits = QSerialPort::Data5;
    else if (dataBits == QLatin1String("6"))
        result.dataBits = QSerialPort::Data6;
    else if (dataBits == QLatin1String("7"))
        result.dataBits = QSerialPort::Data7;
    else if (dataBits == QLatin1String("8"))
        result.dataBits = QSerialPort::Data8;
    else
        return refuse(QStringLiteral("the data bits must be 5, 6, 7 or 8"));

    const QString stopBits = fields[3].trimmed();
    if (stopBits == QLatin1String("1"))
        result.stopBits = QSerialPort::OneStop;
    else if (stopBits == QLatin1String("1.5"))
        result.stopBits = QSerialPort::OneAndHalfStop;
    else if (stopBits == QLatin1String("2"))
        result.stopBits = QSerialPort::TwoStop;
    else
        return refuse(QStringLiteral("the stop bits must be 1, 1.5 or 2"));

    *parameters = result;
    return true;
}

QByteArray ParityMarkDecoder::decode(const QByteArray& chunk, const QByteArray& replacement,
                                     int* errors)
{
    const QByteArray in = carry_ + chunk;
    carry_.clear();
    QByteArray out;
    out.reserve(in.size());
    int marked = 0;
    const char mark = '\xff';
    qsizetype i = 0;
    while (i < in.size()) {
        if (in[i] != mark) {
            out.append(in[i]);
            ++i;
        } else if (i + 1 >= in.size() || (in[i + 1] == '\0' && i + 2 >= in.size())) {
            carry_ = in.mid(i); // the rest of the mark is still on its way
            break;
        } else if (in[i + 1] == mark) {
            out.append(mark);
            i += 2;
        } else if (in[i + 1] == '\0') {
            out.append(replacement);
            ++marked;
            i += 3;
        } else {
            out.append(in[i]); // not a mark the driver writes; keep the byte as it came
            ++i;
        }
    }
    if (errors)
        *errors = marked;
    return out;
}

LineState readLineState(int descriptor)
{
    LineState state;
    int bits = 0;
    if (::ioctl(descriptor, TIOCMGET, &bits) == 0) {
        state.carrierDetect = (bits & TIOCM_CAR) != 0;
    } else if (errno == EIO || errno == ENXIO || errno == ENODEV || errno == EBADF) {
        state.deviceGone = true;
        return state;
    }
    // Any other refusal (ENOTTY, EINVAL) is a device without modem lines.
    serial_icounter_struct counts{};
    if (::ioctl(descriptor, TIOCGICOUNT, &counts) == 0)
        state.overruns =
            static_cast<quint64>(counts.overrun) + static_cast<quint64>(counts.buf_overrun);
    return state;
}

RealSerialBackend::RealSerialBackend(const QString& device, QObject* parent)
    : SerialBackend(parent), device_(device), probe_(readLineState)
{
    carrierTimer_.setInterval(carrierPollMs);
    outputTimer_.setInterval(outputPollMs);
    connect(&carrierTimer_, &QTimer::timeout, this, &RealSerialBackend::pollLineState);
    connect(&outputTimer_, &QTimer::timeout, this, &RealSerialBackend::pollOutput);
    connect(&serial_, &QSerialPort::errorOccurred, this, &RealSerialBackend::onSerialError);
    // Received data is taken from the event loop, not from inside QSerialPort's notification,
    // so that whoever handles it may close the port.
    connect(&serial_, &QSerialPort::readyRead, this, [this] {
        if (receiveScheduled_)
            return;
        receiveScheduled_ = true;
        const quint64 session = session_;
        QMetaObject::invokeMethod(
            this, [this, session] { takeReceived(session); }, Qt::QueuedConnection);
    });
}

RealSerialBackend::~RealSerialBackend()
{
    close();
}

void RealSerialBackend::setLineStateProbe(LineStateProbe probe)
{
    probe_ = probe ? std::move(probe) : LineStateProbe(readLineState);
}

bool RealSerialBackend::open(const SerialLineSettings& settings, QString* error)
{
    if (serial_.isOpen())
        return true;
    const auto refuse = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot open %1: %2").arg(device_, why);
        return false;
    };
    SerialLineParameters parameters;
    QString why;
    if (!parseSerialSettings(settings.settings, &parameters, &why))
        return refuse(why);

    hardwareHandshake_ = settings.handshaking == 2 || settings.handshaking == 3;
    serial_.setPortName(device_);
    serial_.setBaudRate(parameters.baudRate);
    serial_.setParity(parameters.parity);
    serial_.setDataBits(parameters.dataBits);
    serial_.setStopBits(parameters.stopBits);
    serial_.setFlowControl(hardwareHandshake_          ? QSerialPort::HardwareControl
                           : settings.handshaking == 1 ? QSerialPort::SoftwareControl
                                                       : QSerialPort::NoFlowControl);
    if (!serial_.open(QIODevice::ReadWrite)) {
        const QString reason = serial_.errorString();
        serial_.clearError();
        return refuse(reason);
    }
    ++session_;
    receiveScheduled_ = false;
    failureScheduled_ = false;
    received_.clear();
    decoder_.reset();
    parityReplace_ = settings.parityReplace;
    // Refusals here mean the device has no such line (a pseudo-terminal); not a failure.
    serial_.setDataTerminalReady(settings.dtrEnable);
    if (!hardwareHandshake_)
        serial_.setRequestToSend(settings.rtsEnable);
    parityMarking_ = parameters.parity != QSerialPort::NoParity && enableParityMarking();

    const LineState state = probe_(serial_.handle());
    carrier_ = state.carrierDetect.value_or(false);
    carrierReadable_ = state.carrierDetect.has_value();
    overruns_ = state.overruns;
    carrierTimer_.start();
    // What the modem said while nobody listened (a late reply to an earlier command) is not
    // for this session.
    discardInput();
    return true;
}

void RealSerialBackend::discardInput()
{
    if (!serial_.isOpen())
        return;
    ::tcflush(serial_.handle(), TCIFLUSH);
    serial_.clear(QSerialPort::Input);
    received_.clear();
    decoder_.reset();
}

bool RealSerialBackend::enableParityMarking()
{
    termios settings{};
    if (::tcgetattr(serial_.handle(), &settings) != 0)
        return false;
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNPAR | ISTRIP);
    settings.c_iflag |= INPCK | PARMRK;
    return ::tcsetattr(serial_.handle(), TCSANOW, &settings) == 0;
}

void RealSerialBackend::close()
{
    if (!serial_.isOpen())
        return;
    ++session_; // what was queued for the open port no longer applies
    carrierTimer_.stop();
    outputTimer_.stop();
    // A blocking wait, bounded: the engine writes a command and closes at once, and the
    // command must still reach the modem. QSerialPort::close would throw its buffer away.
    const QDeadlineTimer deadline(closeDrainLimitMs);
    while (serial_.bytesToWrite() > 0 && !deadline.hasExpired()) {
        const int remaining = static_cast<int>(qMax<qint64>(1, deadline.remainingTime()));
        if (!serial_.waitForBytesWritten(remaining))
            break;
    }
    // The driver's queue too, so that closing does not cut the last bytes off the line; but
    // only while it moves.
    qint64 queued = serial_.bytesToWrite() == 0 ? kernelOutputQueue() : 0;
    QDeadlineTimer stalled(closeStallLimitMs);
    while (queued > 0 && !deadline.hasExpired() && !stalled.hasExpired()) {
        QThread::msleep(2);
        const qint64 now = kernelOutputQueue();
        if (now < queued)
            stalled.setRemainingTime(closeStallLimitMs);
        queued = now;
    }
    // Output that does not move (the modem holds CTS down, or there is none) is dropped, or
    // the driver itself would hold the close up for as long as half a minute.
    if (kernelOutputQueue() > 0)
        ::tcflush(serial_.handle(), TCOFLUSH);
    shutDown();
}

void RealSerialBackend::shutDown()
{
    ++session_;
    carrierTimer_.stop();
    outputTimer_.stop();
    serial_.close();
    serial_.clearError();
    receiveScheduled_ = false;
    received_.clear();
    decoder_.reset();
    carrier_ = false;
    carrierReadable_ = false;
    overruns_.reset();
}

bool RealSerialBackend::isOpen() const
{
    return serial_.isOpen();
}

void RealSerialBackend::write(const QByteArray& bytes)
{
    if (!serial_.isOpen() || bytes.isEmpty())
        return;
    serial_.write(bytes);
    if (!outputTimer_.isActive())
        outputTimer_.start();
}

QByteArray RealSerialBackend::readAll()
{
    return std::exchange(received_, QByteArray());
}

qint64 RealSerialBackend::bytesAvailable() const
{
    return received_.size();
}

qint64 RealSerialBackend::outputPending() const
{
    if (!serial_.isOpen())
        return 0;
    return serial_.bytesToWrite() + kernelOutputQueue();
}

qint64 RealSerialBackend::kernelOutputQueue() const
{
    int queued = 0;
    if (::ioctl(serial_.handle(), TIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

bool RealSerialBackend::carrierDetect() const
{
    return serial_.isOpen() && carrier_;
}

void RealSerialBackend::setDtr(bool on)
{
    if (serial_.isOpen())
        serial_.setDataTerminalReady(on);
}

void RealSerialBackend::setRts(bool on)
{
    // Under RTS/CTS handshaking the driver owns RTS.
    if (serial_.isOpen() && !hardwareHandshake_)
        serial_.setRequestToSend(on);
}

void RealSerialBackend::takeReceived(quint64 session)
{
    if (session != session_)
        return;
    receiveScheduled_ = false;
    QByteArray bytes = serial_.readAll();
    int parityErrors = 0;
    if (parityMarking_)
        bytes = decoder_.decode(bytes, parityReplace_, &parityErrors);
    received_.append(bytes);
    if (parityErrors > 0) {
        // The handler may close the port, or delete it with its backend.
        const QPointer<RealSerialBackend> self(this);
        emit lineError(1009);
        if (!self || session != session_)
            return;
    }
    if (!bytes.isEmpty())
        emit readyRead();
}

void RealSerialBackend::pollLineState()
{
    if (!serial_.isOpen())
        return;
    const LineState state = probe_(serial_.handle());
    if (state.deviceGone) {
        fail(QStringLiteral("The serial device %1 no longer answers").arg(device_));
        return;
    }
    // State first, signals after: a handler's nested event loop may poll again.
    carrierReadable_ = state.carrierDetect.has_value();
    const bool carrierChangedNow = state.carrierDetect && *state.carrierDetect != carrier_;
    if (carrierChangedNow)
        carrier_ = *state.carrierDetect;
    const bool overrun = state.overruns && overruns_ && *state.overruns > *overruns_;
    if (state.overruns)
        overruns_ = state.overruns;

    const quint64 session = session_;
    if (carrierChangedNow) {
        const QPointer<RealSerialBackend> self(this);
        emit carrierChanged(carrier_);
        if (!self || session != session_)
            return;
    }
    if (overrun)
        emit lineError(1006);
}

void RealSerialBackend::pollOutput()
{
    if (!serial_.isOpen()) {
        outputTimer_.stop();
        return;
    }
    if (outputPending() > 0)
        return;
    outputTimer_.stop();
    emit outputDrained();
}

void RealSerialBackend::onSerialError(QSerialPort::SerialPortError error)
{
    if (!isDeviceFailure(error) || !serial_.isOpen() || failureScheduled_)
        return;
    // A failing device keeps raising errors until it is closed; close it from the event
    // loop, once, rather than from inside QSerialPort's notification.
    failureScheduled_ = true;
    const QString reason =
        QStringLiteral("The serial device %1 failed: %2").arg(device_, serial_.errorString());
    const quint64 session = session_;
    QMetaObject::invokeMethod(
        this,
        [this, session, reason] {
            if (session == session_)
                fail(reason);
        },
        Qt::QueuedConnection);
}

void RealSerialBackend::fail(const QString& reason)
{
    if (!serial_.isOpen())
        return;
    shutDown(); // no drain: the device is gone
    emit failed(reason);
}

} // namespace tellaran
