#pragma once

#include "engine/link/modemlink.h"

#include <QMenu>
#include <QWidget>

class QAction;

namespace tellaran {

class Engine;

// The modem window ("Tellaran transmission engine"). It is never shown: it carries the
// serial port, the engine's own client socket and the status window's "Status" menu.
// Loading it is constructing it and then running Load(), the engine start-up.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    Form1(Engine& engine, SerialEnvironment environment, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up. It waits for the modem's replies in the event loop, so the engine keeps
    // the window before running it: whatever runs meanwhile finds it loaded.
    void Load();

    ModemLink& link() { return link_; }
    SerialPort& MSComm1() { return link_.MSComm1; }
    bool Connected() const { return link_.Connected; }

    // The status window's "Status" menu, popped up at a screen position.
    void popupStatusMenu(const QPoint& globalPosition);

    // The Status menu: which lines the status window shows. Exactly one item is checked.
    QMenu cstat;
    QAction* const sspd;
    QAction* const cstats;
    QAction* const sascr;

    void sspd_Click();
    void cstats_Click();
    void sascr_Click();

private:
    void checkOnly(QAction* item);

    Engine& engine_;
    ModemLink link_;
};

} // namespace tellaran
