#pragma once

#include <QWidget>

class QListWidgetItem;
#include <memory>

namespace Ui {
class ProgramListEditor;
}

namespace tellaran {

class Engine;

// The program list editor `editp` ("Edit Program list"): the names of the list, a name and a
// command line, "Add" and "Delete". The list box only ever shows what the file holds; every
// file failure is reported in a box.
class ProgramListEditor : public QWidget
{
    Q_OBJECT
public:
    explicit ProgramListEditor(Engine& engine, QWidget* parent = nullptr);
    ~ProgramListEditor() override;

    // The load: fills List1 with the names of the list, in file order.
    void Load();
    // "Add": appends Text1 and Text2 as an entry, then the name to List1.
    void AddProgram();
    // "Delete": removes every entry named like the selected line, then refills List1.
    void DeletePrograms();
    // A line of List1 was selected: its name and the command line of the last entry so named.
    void ShowProgram(const QString& name);

Q_SIGNALS:
    // The close picture was clicked (or the window closed): the owner unloads the editor.
    void unloadRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FillList();
    // The line the user chose, if any.
    const QListWidgetItem* selectedItem() const;
    void Report(const QString& text);

    std::unique_ptr<Ui::ProgramListEditor> ui;
    Engine& engine_;
};

} // namespace tellaran
