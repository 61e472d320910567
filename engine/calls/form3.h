#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Form3;
}

namespace tellaran {

class Engine;

// The mode window "Mode:": the first window after the splash screen. Loading it checks the
// data files and runs the first-run set-up when one is missing; then the user chooses call
// or answer mode, opens the settings or the help, or quits.
class Form3 : public QWidget
{
    Q_OBJECT
public:
    explicit Form3(Engine& engine, QWidget* parent = nullptr);
    ~Form3() override;

    // The load step: top-most, then the presence test of the data files.
    void CheckDataFiles();
    // The first-run set-up: creates the missing data files and walks the user into the
    // settings dialog.
    void InstallDataFiles();

    // The program is ending: closing the window no longer ends it again.
    void shutDown();

Q_SIGNALS:
    // "Call Mode" / "Answer Mode": the owner shows the chosen window, then unloads this one.
    void callModeChosen();
    void answerModeChosen();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Command3_Click();
    void Command4_Click();

    std::unique_ptr<Ui::Form3> ui;
    Engine& engine_;
    bool ending_ = false;
};

} // namespace tellaran
