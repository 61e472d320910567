#pragma once

#include "engine/calls/marquee.h"

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class Form4;
}

namespace tellaran {

class Engine;

// The answer window "Tellaran Call receiver": opens the modem's port, tells the modem to
// answer on the first ring and waits, with a state line, a log and a scrolling strip. The
// modem receive path updates it on a ring and hides it when the call comes up. Closing it,
// by any means, ends the program.
class Form4 : public QWidget
{
    Q_OBJECT
public:
    explicit Form4(Engine& engine, QWidget* parent = nullptr);
    ~Form4() override;

    // The load step.
    void WaitForCall();
    // Timer2's tick.
    void MarqueeStep();
    // The modem reported "RING".
    void ShowRinging();
    // The call could not be answered (the modem reported `failure`): logged, and back to
    // waiting for the next one.
    void ShowAnswerFailed(const QString& failure);
    // The call came up: log it when asked, stop the strip and hide.
    void CloseOnConnect(bool logConnected);
    // The program is ending: stops the strip; closing no longer ends the program again.
    void shutDown();

    const MarqueeStrip& strip() const { return strip_; }

    // Drives MarqueeStep; runs from the load until the call comes up.
    QTimer Timer2;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void SetLog(const QString& text);
    void AppendToLog(const QString& line);
    void PlaceStrip();

    std::unique_ptr<Ui::Form4> ui;
    Engine& engine_;
    MarqueeStrip strip_;
    // Text1's content as written, lines joined by CR LF.
    QString log_;
    bool ending_ = false;
};

} // namespace tellaran
