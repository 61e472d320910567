#pragma once

#include "engine/calls/phonebook.h"

#include <QList>
#include <QWidget>
#include <memory>

namespace Ui {
class Dialer;
}

namespace tellaran {

class Engine;

// The dialer "Tellaran Dialler": the phone book as a list, the number field with its key pad,
// the time of the last call and the buttons that add and delete entries, reset the time and
// place the call. The key pad's pictures are Image_0 to Image_9, each adding its own digit.
class Dialer : public QWidget
{
    Q_OBJECT
public:
    explicit Dialer(Engine& engine, QWidget* parent = nullptr);
    ~Dialer() override;

    // The load step: loads the status window, keeps on top, shows the stored time and the
    // phone book.
    void Load();
    // Refills the list from the phone book file, keeping each record beside its line.
    void LoadPhoneBook();
    // Removes every record listed as `selectedLine` and refills the list.
    void DeletePhoneEntries(const QByteArray& selectedLine);

    // The number field (Text1) and the time field (Text3).
    QString numberText() const;
    QString timeText() const;
    void setTimeText(const QString& text);

    // The records behind the list lines, in list order.
    const QList<PhoneEntry>& entries() const { return entries_; }

    // The program is ending: closing the window no longer ends it again.
    void shutDown();

Q_SIGNALS:
    // "Go !".
    void placeCallRequested();
    // "Add": the owner shows the add-entry window.
    void addEntryRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void List1_Click(int row);
    void KeyPad_Click(int digit);
    void Command3_Click();
    void Command4_Click();

    std::unique_ptr<Ui::Dialer> ui;
    Engine& engine_;
    QList<PhoneEntry> entries_;
    bool ending_ = false;
};

} // namespace tellaran
