#pragma once

#include <QByteArrayView>
#include <QtGlobal>

namespace ferryit {

// CRC-32 (the IEEE polynomial, as in zip and Ethernet): each message carries one, so that a
// message damaged on a line without error control is never acted on.
quint32 crc32(QByteArrayView bytes);

} // namespace ferryit
