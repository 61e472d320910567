#include "tests/support/pseudoterminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace tellaran::testing {

PseudoTerminal::PseudoTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY))
{
    if (master_ < 0)
        return;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        closeMaster();
        return;
    }
    slavePath_ = QString::fromLocal8Bit(::ptsname(master_));
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
}

QByteArray PseudoTerminal::portMapRecord(int port) const
{
    return QByteArray::number(port) + ",\"" + slavePath_.toLocal8Bit() + "\"\r\n";
}

const QByteArray& PseudoTerminal::received()
{
    char block[65536];
    ssize_t n = 0;
    while (master_ >= 0 && (n = ::read(master_, block, sizeof block)) > 0)
        received_.append(block, n);
    return received_;
}

bool PseudoTerminal::send(const QByteArray& bytes)
{
    return master_ >= 0 &&
           ::write(master_, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

void PseudoTerminal::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

} // namespace tellaran::testing
