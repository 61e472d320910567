#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Form6;
}

namespace tellaran {

class Engine;

// The dialing window "Dialing": shows progress while the modem dials; it can be expanded to
// show a details box.
class Form6 : public QWidget
{
    Q_OBJECT
public:
    static constexpr int CollapsedHeightTwips = 1335;
    static constexpr int ExpandedHeightTwips = 2535;

    explicit Form6(Engine& engine, QWidget* parent = nullptr);
    ~Form6() override;

    // The state line and the details box.
    void setState(const QString& text);
    // "Details >>" / "<< Details".
    void ToggleDetails();

    // The program is ending: closing the window no longer ends it again.
    void shutDown();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::Form6> ui;
    Engine& engine_;
    bool ending_ = false;
};

} // namespace tellaran
