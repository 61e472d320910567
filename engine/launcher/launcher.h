#pragma once

#include <QObject>
#include <QPointer>

namespace tellaran {

class Engine;
class ProgramListEditor;
class ProgramsMenu;

// The program launcher of one engine: the programs menu and the program list editor. A window
// is loaded the first time it is shown; unloading deletes it, so the menu's next showing
// builds its items from the file again.
class Launcher : public QObject
{
    Q_OBJECT
public:
    explicit Launcher(Engine& engine, QObject* parent = nullptr);
    ~Launcher() override;

    // "Run": shows the menu when it is hidden (loading it below the status window: the "Run"
    // button's left edge and the status window's lower edge, in twips, on the screen), and
    // hides it when it is shown.
    void toggleProgramsMenu(int runButtonLeftTwips, int statusWindowBottomTwips);
    void unloadProgramsMenu();
    // "Edit List": shows the editor, loading it when it is not loaded.
    void showEditor();
    void unloadEditor();

    bool isProgramsMenuLoaded() const { return !menu_.isNull(); }
    bool isEditorLoaded() const { return !editor_.isNull(); }
    // Null when not loaded.
    ProgramsMenu* programsMenu() const;
    ProgramListEditor* editor() const;

    // The program is ending: both windows hide without their own closing steps.
    void shutDown();

Q_SIGNALS:
    // A program was started from the menu.
    void programStarted(qint64 pid);

private:
    Engine& engine_;
    QPointer<ProgramsMenu> menu_;
    QPointer<ProgramListEditor> editor_;
};

} // namespace tellaran
