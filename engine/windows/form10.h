#pragma once

#include "platform/socket.h"

#include <QWidget>
#include <memory>

namespace Ui {
class Form10;
}

namespace tellaran {

class Engine;

// The send window "Send data": the user types a short message for the other computer. It is
// a client of the engine's own channel server that never registers; "Send" writes one
// message frame there, which the engine carries over the link. Created once, then only
// shown and hidden, so its connection lasts; a connection that is down is made again on the
// next showing or "Send".
class Form10 : public QWidget
{
    Q_OBJECT
public:
    explicit Form10(Engine& engine, QWidget* parent = nullptr);
    ~Form10() override;

    // Shows the window, connecting Winsock1 first unless it is connected or connecting.
    void showWindow();
    // "Send".
    void Command1_Click();
    // The program is ending: the connection closes and the window hides.
    void shutDown();

    // What the window says about its connection; empty while all is well.
    QString statusText() const;

    Socket Winsock1;

private:
    void connectWinsock();
    void Winsock1_Connect();
    void Winsock1_Close();

    std::unique_ptr<Ui::Form10> ui;
    Engine& engine_;
    bool ending_ = false;
};

} // namespace tellaran
