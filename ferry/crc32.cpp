#include "ferry/crc32.h"

#include <array>

namespace ferryit {

namespace {

constexpr std::array<quint32, 256> makeTable()
{
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<quint32, 256> Table = makeTable();

} // namespace

quint32 crc32(QByteArrayView bytes)
{
    quint32 c = 0xFFFFFFFFu;
    for (const char byte : bytes)
        c = Table[(c ^ quint8(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

} // namespace ferryit
