#pragma once

// What the call-control tests share: an engine stand-in with a real status window, the call
// windows, control lookup by name, and a serial backend that records what the port does.

#include "engine/calls/callcontrol.h"
#include "engine/channels/form2.h"
#include "engine/settings/settingsfile.h"
#include "platform/serialport.h"
#include "tests/support/controls.h"
#include "tests/support/fakeengine.h"

#include <QPlainTextEdit>
#include <QStringList>
#include <QWidget>
#include <memory>

namespace tellaran::testing {

// A multi-line log box's lines.
inline QStringList logLines(QWidget* window, const char* name = "Text1")
{
    return control<QPlainTextEdit>(window, name)->toPlainText().split(QLatin1Char('\n'));
}

// A serial device that does nothing but note, in order, what the port asked of it.
class RecordingBackend : public SerialBackend
{
public:
    explicit RecordingBackend(QStringList& log, const qint64& pending)
        : log_(log), pending_(pending)
    {}
    bool open(const SerialLineSettings&, QString*) override
    {
        log_ << QStringLiteral("open");
        return open_ = true;
    }
    void close() override
    {
        log_ << QStringLiteral("close");
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    void write(const QByteArray& bytes) override
    {
        log_ << QStringLiteral("write ") + QString::fromLatin1(bytes);
    }
    QByteArray readAll() override { return {}; }
    qint64 bytesAvailable() const override { return 0; }
    qint64 outputPending() const override { return pending_; }
    bool carrierDetect() const override { return false; }
    void setDtr(bool on) override
    {
        log_ << (on ? QStringLiteral("dtr on") : QStringLiteral("dtr off"));
    }
    void setRts(bool) override {}

private:
    QStringList& log_;
    const qint64& pending_;
    bool open_ = false;
};

// The stand-in engine with a real status window (the call windows load it), and, when asked
// for, a modem port whose device is a RecordingBackend.
class CallsEngine : public FakeEngine
{
public:
    explicit CallsEngine(bool recordingPort = false) : recordingPort_(recordingPort)
    {
        statusWindowFactory = [](Engine& engine) { return std::make_shared<Form2>(engine); };
    }

    SerialPort& modemPort() override
    {
        if (!recordingPort_)
            return FakeEngine::modemPort();
        ++modemPortReached;
        if (!port_) {
            SerialEnvironment environment;
            environment.portMapFile = dataPath(QStringLiteral("ports.dat"));
            environment.backendFactory = [this](const portmap::PortTarget&,
                                                const VirtualModemOptions&) {
                return std::unique_ptr<SerialBackend>(
                    std::make_unique<RecordingBackend>(portLog, pendingOutput));
            };
            port_ = std::make_unique<SerialPort>(environment);
        }
        return *port_;
    }

    // A settings file as delivered, with the given connection time.
    void writeSettings(const QByteArray& time) const
    {
        const SettingsFile file(programDir());
        file.SaveSettings(DeliveredSettings());
        file.StoreConnectionTime(time);
    }

    QStringList portLog;
    qint64 pendingOutput = 0;

private:
    bool recordingPort_;
    std::unique_ptr<SerialPort> port_;
};

} // namespace tellaran::testing
