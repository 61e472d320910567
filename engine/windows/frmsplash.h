#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class frmSplash;
}

namespace tellaran {

class Engine;

// The splash screen: the first window of a run. Two seconds after it shows it hands over to
// the mode window, which checks the data files (and on a first run leads into the settings),
// and closes itself.
class frmSplash : public QWidget
{
    Q_OBJECT
public:
    explicit frmSplash(Engine& engine, QWidget* parent = nullptr);
    ~frmSplash() override;

    // The hand-over.
    void Timer1_Timer();
    // The program is ending before the hand-over: no hand-over, and the window hides.
    void shutDown();

    // 2000 ms, once.
    QTimer Timer1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmSplash> ui;
    Engine& engine_;
};

} // namespace tellaran
