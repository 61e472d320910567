#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Form5;
}

namespace tellaran {

class Engine;

// "Add address:": a name and a number for the phone book. It stays open until an entry was
// stored or the user cancels.
class Form5 : public QWidget
{
    Q_OBJECT
public:
    explicit Form5(Engine& engine, QWidget* parent = nullptr);
    ~Form5() override;

    // "Add": checks the two fields, appends the record to the phone book and asks to be
    // unloaded.
    void AddPhoneEntry();

Q_SIGNALS:
    // A record was appended: the dialer reloads its list.
    void phoneEntryAdded();
    // The owner unloads the window (after "Add", "Cancel" or the close image).
    void unloadRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool Refuse(const QString& text);

    std::unique_ptr<Ui::Form5> ui;
    Engine& engine_;
};

} // namespace tellaran
