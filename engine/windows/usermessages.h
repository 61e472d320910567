#pragma once

#include <QByteArray>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QtGlobal>

namespace tellaran {

// User messages between the two computers: what may be sent, how a received one is shown,
// and how many message windows may be open at once.

// A message of at most this many bytes (one byte, one character) is drawn centred in its
// window; a longer one goes into the window's label.
constexpr qsizetype ShortMessageLength = 20;
bool IsShortMessage(const QByteArray& message);

// A message window shows at most this much of a message; its label has room for far less,
// and a huge text would only cost memory and layout time.
constexpr qsizetype ShownMessageLimit = 4096;
QByteArray ShownPartOfMessage(const QByteArray& message);

// The top-left corner that centres a `text`-sized drawing in an `area`.
QPoint CentredOrigin(const QSize& area, const QSize& text);

// Why `text` cannot cross the link as a message (it holds a word that ends or marks a frame,
// so it would arrive cut), or an empty string when it can.
QString UnsendableMessageReason(const QByteArray& text);

// What the send window says while its connection to the engine is not up.
QString NotConnectedText();

// Keeps the other computer from flooding the desktop: at most MaxOpen message windows at
// once. A message that finds them all open is dropped and counted; the count belongs to the
// newest window and starts again with the next window that opens.
class MessageWindowLimit
{
public:
    static constexpr int MaxOpen = 32;

    // A message arrived while `openWindows` are open: true when it may open a window.
    bool Admit(int openWindows);
    // Messages dropped since the newest window opened.
    qint64 dropped() const { return dropped_; }

private:
    qint64 dropped_ = 0;
};

// The newest window's note about dropped messages; empty for none.
QString DroppedMessagesNote(qint64 dropped);

} // namespace tellaran
