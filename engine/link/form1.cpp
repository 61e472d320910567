#include "engine/link/form1.h"

#include "engine/engine.h"

namespace tellaran {

Form1::Form1(Engine& engine, SerialEnvironment environment, QWidget* parent)
    : QWidget(parent), cstat(QStringLiteral("Status")),
      sspd(cstat.addAction(QStringLiteral("Speed"))),
      cstats(cstat.addAction(QStringLiteral("Connection status"))),
      sascr(cstat.addAction(QStringLiteral("Auto Scroll"))), engine_(engine),
      link_(engine, std::move(environment))
{
    setWindowTitle(QStringLiteral("Tellaran transmission engine"));
    for (QAction* item : {sspd, cstats, sascr})
        item->setCheckable(true);
    sspd->setChecked(true);
    connect(sspd, &QAction::triggered, this, &Form1::sspd_Click);
    connect(cstats, &QAction::triggered, this, &Form1::cstats_Click);
    connect(sascr, &QAction::triggered, this, &Form1::sascr_Click);

    // The status window's incoming-activity arrow follows each received block.
    connect(&link_, &ModemLink::receiveStarted, this, [this] { engine_.setInflowShown(true); });
    connect(&link_, &ModemLink::receiveFinished, this, [this] { engine_.setInflowShown(false); });
}

void Form1::Load()
{
    link_.Load();
}

Form1::~Form1() = default;

void Form1::popupStatusMenu(const QPoint& globalPosition)
{
    cstat.popup(globalPosition);
}

void Form1::sspd_Click()
{
    checkOnly(sspd);
    engine_.setStatusView(StatusView::SpeedLines);
}

void Form1::cstats_Click()
{
    checkOnly(cstats);
    engine_.setStatusView(StatusView::ConnectionLines);
}

void Form1::sascr_Click()
{
    checkOnly(sascr);
    engine_.setStatusView(StatusView::AutoScroll);
}

// A click on a checked item would uncheck it; the clicked item stays the checked one.
void Form1::checkOnly(QAction* item)
{
    for (QAction* each : {sspd, cstats, sascr})
        each->setChecked(each == item);
}

} // namespace tellaran
