#pragma once

#include "engine/settings/portchoices.h"
#include "engine/settings/settingsfile.h"
#include "platform/portmap.h"
#include "platform/serialdevices.h"

#include <QHash>
#include <QWidget>
#include <memory>

namespace Ui {
class Form7;
}

namespace tellaran {

class Engine;

// The settings dialog "Options": shows the sixteen option values of the settings file on two
// tabs, explains each control while the mouse rests on it, and writes them back on "OK".
// The mode window stays hidden while it is open. "OK" and "Cancel" close and delete it.
class Form7 : public QWidget
{
    Q_OBJECT

public:
    explicit Form7(Engine& engine, QWidget* parent = nullptr);
    ~Form7() override;

signals:
    // The dialog has closed and deletes itself once control returns to the event loop; its
    // owner forgets it, so that the next opening loads the values from the file again.
    void closedAndUnloaded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void LoadControls(const SettingsRecord& record);
    SettingsRecord ControlValues() const;
    QString VolumeHelpText() const;
    void ShowHelpFor(QObject* control);
    bool RefuseDoubleQuotes();
    // The port map and the devices it may name, read again after each choice.
    void ReadPortMap();
    // The line under "Comm Port": what the number typed means on this computer; and the
    // device list beside it showing that device.
    void ShowPortMeaning();
    void CommPortDevice_Click(int index);

    void HScroll1_Change(int value);
    void Check3_Click();
    void TabStrip1_Click(int index);
    void Command1_Click();
    void Command2_Click();
    void Unload();

    std::unique_ptr<Ui::Form7> ui;
    Engine& engine_;
    QHash<QObject*, QString> helpTexts_;
    // Read when the dialog loads: the port map and the serial devices found.
    QList<portmap::PortMapRecord> portMap_;
    QList<SerialDevice> serialDevices_;
    QList<PortChoice> portChoices_;
    bool unloaded_ = false;
};

} // namespace tellaran
