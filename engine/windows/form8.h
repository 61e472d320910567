#pragma once

#include "engine/windows/credits.h"

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class Form8;
}

namespace tellaran {

class Engine;

// The about box "About": the product's name, its link and credits that scroll up once
// through their viewport; the box closes itself when they have gone, or on "Exit". Each
// opening makes a new box, so the credits always start at the top.
class Form8 : public QWidget
{
    Q_OBJECT
public:
    explicit Form8(Engine& engine, QWidget* parent = nullptr);
    ~Form8() override;

    // Timer2's tick: the credits move up; gone far enough, the box closes.
    void Timer2_Timer();
    // The program is ending: the scroll stops and the box hides.
    void shutDown();

    const CreditsScroll& credits() const { return credits_; }

    // Scrolls the credits, a tick every 15 ms from the start.
    QTimer Timer2;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeCredits();

    std::unique_ptr<Ui::Form8> ui;
    CreditsScroll credits_;
};

} // namespace tellaran
