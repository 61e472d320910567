#include "engine/launcher/launcher.h"

#include "engine/launcher/programlisteditor.h"
#include "engine/launcher/programsmenu.h"
#include "engine/windows/unloadwindow.h"

namespace tellaran {

Launcher::Launcher(Engine& engine, QObject* parent) : QObject(parent), engine_(engine) {}

Launcher::~Launcher()
{
    delete menu_.data();
    delete editor_.data();
}

ProgramsMenu* Launcher::programsMenu() const
{
    return menu_.data();
}

ProgramListEditor* Launcher::editor() const
{
    return editor_.data();
}

void Launcher::toggleProgramsMenu(int runButtonLeftTwips, int statusWindowBottomTwips)
{
    if (menu_ && menu_->isVisible()) {
        menu_->hide();
        return;
    }
    if (!menu_) {
        menu_ = new ProgramsMenu(engine_);
        connect(menu_, &ProgramsMenu::editListChosen, this, &Launcher::showEditor);
        connect(menu_, &ProgramsMenu::programStarted, this, &Launcher::programStarted);
        connect(menu_, &ProgramsMenu::unloadRequested, this, &Launcher::unloadProgramsMenu);
        menu_->Load(runButtonLeftTwips, statusWindowBottomTwips);
    }
    menu_->show();
    menu_->raise();
    // The keyboard goes to the menu, so that its items can be chosen at once.
    menu_->activateWindow();
}

void Launcher::unloadProgramsMenu()
{
    UnloadWindow(menu_);
}

void Launcher::showEditor()
{
    if (!editor_) {
        editor_ = new ProgramListEditor(engine_);
        connect(editor_, &ProgramListEditor::unloadRequested, this, &Launcher::unloadEditor);
        editor_->Load();
    }
    editor_->show();
    editor_->raise();
    editor_->activateWindow();
}

void Launcher::unloadEditor()
{
    UnloadWindow(editor_);
}

void Launcher::shutDown()
{
    if (menu_)
        menu_->hide();
    if (editor_)
        editor_->hide();
}

} // namespace tellaran
