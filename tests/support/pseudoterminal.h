#pragma once

#include <QByteArray>
#include <QString>

namespace tellaran::testing {

// A pseudo-terminal whose slave side a serial port can open as its device; the test holds
// the master side, where the modem would be. The master is non-blocking.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isValid() const { return master_ >= 0 && !slavePath_.isEmpty(); }
    // The device a port map points at, e.g. /dev/pts/7.
    QString slavePath() const { return slavePath_; }
    // A port map line mapping `port` to this terminal: 1,"/dev/pts/7" CR LF.
    QByteArray portMapRecord(int port) const;

    // Everything the port has written so far (reads what is waiting, keeps it all).
    const QByteArray& received();
    // Writes to the port as the modem would.
    bool send(const QByteArray& bytes);
    void closeMaster();

private:
    int master_ = -1;
    QString slavePath_;
    QByteArray received_;
};

} // namespace tellaran::testing
