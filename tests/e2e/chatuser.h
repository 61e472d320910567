#pragma once

#include "chat/chatprogram.h"
#include "chat/frmclient.h"
#include "chat/frmset.h"
#include "client/tellaran.h"
#include "engine/tellaranengine.h"
#include "tests/support/controls.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace tellaran::testing {

// One user's Yarnit, in its own folder, pointed at the channel port of the engine on the
// same "computer" and driven through its windows.
struct ChatUser
{
    ChatUser(const QString& nickname, TellaranEngine& engine)
        : program(folder.path(),
                  {[](QWidget*, const QString&, const QString&) { return QString(); },
                   [](QWidget*, const QString&) {}, [] {}})
    {
        program.Start();
        control<QLineEdit>(program.settingsWindow(), "Text1")->setText(nickname);
        QTest::mouseClick(control<QPushButton>(program.settingsWindow(), "Command1"),
                          Qt::LeftButton);
        window().control()->setEnginePort(engine.channelPort());
    }

    yarnit::frmClient& window() { return program.chatWindow(); }
    QString status() { return control<QLabel>(window(), "Label1")->text(); }
    QString conversation() { return control<QPlainTextEdit>(window(), "Text2")->toPlainText(); }
    void connect() { control<QAction>(window(), "mnuConnect")->trigger(); }
    void type(const QString& line)
    {
        QPlainTextEdit* input = control<QPlainTextEdit>(window(), "Text1");
        input->setFocus();
        QTest::keyClicks(input, line);
        QTest::keyClick(input, Qt::Key_Return);
    }

    QTemporaryDir folder;
    yarnit::ChatProgram program;
};

} // namespace tellaran::testing
