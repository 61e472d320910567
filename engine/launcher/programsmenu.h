#pragma once

#include "engine/launcher/programsmenulayout.h"

#include <QList>
#include <QWidget>
#include <memory>

class QLabel;

namespace Ui {
class ProgramsMenu;
}

namespace tellaran {

class Engine;

// The programs menu `programs`: a pop-up below the status window with one item per entry of
// the program list and a last item "Edit List". The mouse over an item highlights it; a click
// starts the item's program, or asks for the list editor, and then asks to be unloaded. The
// items are built once, when the menu loads; hiding and showing keeps them.
class ProgramsMenu : public QWidget
{
    Q_OBJECT
public:
    explicit ProgramsMenu(Engine& engine, QWidget* parent = nullptr);
    ~ProgramsMenu() override;

    // The load: keeps the window on top, places its left edge 150 twips right of the "Run"
    // button's left edge and its top at `topTwips` (the status window's lower edge), and
    // builds the items from the program list.
    void Load(int runButtonLeftTwips, int topTwips);

    const ProgramsMenuLayout& layout() const { return layout_; }
    int leftTwips() const { return leftTwips_; }
    int topTwips() const { return topTwips_; }

    // The mouse is over item `index`.
    void HighlightItem(int index);
    // A click on item `index`.
    void ClickItem(int index);

    // Left of the menu's edge from the "Run" button's left edge.
    static constexpr int RunButtonOffset = 150;

Q_SIGNALS:
    // The last item was clicked: the editor is to be shown.
    void editListChosen();
    // An item's program was started (its process id).
    void programStarted(qint64 pid);
    // The owner unloads the menu (after any click on an item).
    void unloadRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct ItemControls
    {
        QLabel* menu = nullptr;
        QLabel* menuup = nullptr;
        QLabel* Menupress = nullptr;
        QLabel* pathi = nullptr;
    };

    ItemControls createItemControls(int index);
    void applyItem(int index);
    int itemIndexOf(const QObject* control) const;

    std::unique_ptr<Ui::ProgramsMenu> ui;
    Engine& engine_;
    ProgramsMenuLayout layout_;
    QList<ItemControls> controls_;
    int leftTwips_ = 0;
    int topTwips_ = 0;
};

} // namespace tellaran
