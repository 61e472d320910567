#pragma once

#include "engine/windows/infoboxslide.h"

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class datafrm;
}

namespace tellaran {

class Engine;

// The info box "Info Box": a narrow panel that slides out of the status window's right edge
// and shows the traffic statistics one at a time, a new one every second while it stands
// fully open. It is created by the first use of it (the info button, or the first change of
// a traffic counter) and then slides open by itself; after that it is only shown and hidden.
class datafrm : public QWidget
{
    Q_OBJECT
public:
    explicit datafrm(Engine& engine, QWidget* parent = nullptr);
    ~datafrm() override;

    // The status window's info button.
    void Toggle(bool& showdata);
    // The program is ending: the timers stop and the panel hides.
    void shutDown();

    // Timer work.
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer4_Timer();

    const InfoBoxSlide& slide() const { return slide_; }
    // The statistic shown next is step + 1 (1 to 6).
    int step() const { return step_; }

    // Opening and closing slides: a tick every 15 ms, 91 twips each.
    QTimer Timer1;
    QTimer Timer2;
    // The display, every second; it advances only while the panel stands open.
    QTimer Timer4;

private:
    void applySlide();

    std::unique_ptr<Ui::datafrm> ui;
    Engine& engine_;
    InfoBoxSlide slide_;
    int step_ = 0;
};

} // namespace tellaran
