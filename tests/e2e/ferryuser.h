#pragma once

#include "client/tellaran.h"
#include "engine/tellaranengine.h"
#include "ferry/ferrywindow.h"
#include "tests/support/controls.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace tellaran::testing {

// One user's Ferryit, with its own program folder and inbox, pointed at the engine of the
// same "computer" and driven through its window. The file dialog answers with `toSend`.
struct FerryUser
{
    explicit FerryUser(TellaranEngine& engine)
        : window(folder.path(), {[this](QWidget*) { return toSend; },
                                 [this](QWidget*, const QString&) { return inbox.path(); },
                                 [this](QWidget*, const QString& text) { errors << text; }, [] {}})
    {
        click("ChooseFolder");
        use(engine);
    }
    // Points the window at an engine (a new one after a call ended) and connects.
    void use(TellaranEngine& engine)
    {
        window.control()->setEnginePort(engine.channelPort());
        window.connectToEngine();
    }
    void click(const char* button)
    {
        QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
    }
    void acceptAll() { control<QCheckBox>(window, "AcceptAll")->click(); }
    void send(const QStringList& files)
    {
        toSend = files;
        click("SendFiles");
    }
    QString status() { return control<QLabel>(window, "StatusLabel")->text(); }
    QString inboxFile(const QString& name) const { return QDir(inbox.path()).filePath(name); }
    QString outboxFile(const QString& name, const QByteArray& content) const
    {
        QFile file(QDir(outbox.path()).filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
        return file.fileName();
    }
    QStringList inboxNames() const
    {
        return QDir(inbox.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QString stateShown(quint64 key) { return window.item(key)->text(5); }
    void select(quint64 key)
    {
        control<QTreeWidget>(window, "Transfers")->setCurrentItem(window.item(key));
    }
    QList<quint64> keys(ferryit::Direction direction)
    {
        QList<quint64> found;
        for (const quint64 key : window.session().transferKeys()) {
            if (window.session().transfer(key)->direction == direction)
                found << key;
        }
        return found;
    }
    bool allFinished()
    {
        for (const quint64 key : window.session().transferKeys()) {
            if (!ferryit::isFinished(window.session().transfer(key)->state))
                return false;
        }
        return true;
    }

    QTemporaryDir folder;
    QTemporaryDir inbox;
    QTemporaryDir outbox;
    QStringList toSend;
    QStringList errors;
    ferryit::FerryWindow window;
};

} // namespace tellaran::testing
