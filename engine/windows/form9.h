#pragma once

#include <QByteArray>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class Form9;
}

namespace tellaran {

// The message window "Message box": one per message from the other computer. A short text
// is drawn centred in white; a longer one fills the label. Whatever the text holds is shown
// as it is, never read as markup. A click closes the window; a right-button press on the
// label asks for the send window (a reply) and closes it.
class Form9 : public QWidget
{
    Q_OBJECT
public:
    explicit Form9(QWidget* parent = nullptr);
    ~Form9() override;

    // The received text.
    QByteArray message;

    // Timer1's tick: redraws the message.
    void Timer1_Timer();
    // The note about messages dropped while this is the newest window.
    void setDroppedNote(const QString& note);

    // What the window draws itself, centred; empty while the label holds the text.
    const QString& drawnText() const { return drawnText_; }

    // Every 200 ms, from the start.
    QTimer Timer1;

Q_SIGNALS:
    // The user asked to reply; the window closes right after.
    void replyRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<Ui::Form9> ui;
    QPixmap background_;
    QString drawnText_;
};

} // namespace tellaran
