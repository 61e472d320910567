// The modem input splitter against the character-by-character rules it replaces: in command
// mode every CR ends a line; connected, a CR ends a link frame only after "<xodem>" in a text
// longer than 11 characters. Any chunking, and any change of mode between chunks, must give
// the same lines at the same calls and leave the same text pending.
#include "engine/link/modeminputsplitter.h"
#include "tests/fuzz/fuzzinput.h"

using namespace tellaran;
using tellaran::fuzz::Choices;
using tellaran::fuzz::FuzzInput;

namespace {

struct CharacterByCharacter
{
    QByteArray buffer;

    QList<QByteArray> split(const QByteArray& chunk, bool connected)
    {
        QList<QByteArray> lines;
        for (const char c : chunk) {
            const bool endsLine =
                c == '\r' && (!connected || (buffer.size() > 11 && buffer.endsWith("<xodem>")));
            if (endsLine) {
                lines.append(buffer);
                buffer.clear();
            } else {
                buffer.append(c);
            }
        }
        return lines;
    }
};

} // namespace

int fuzzOne(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t mode = input.takeByte();
    const uint32_t seed = input.takeByte() | uint32_t(input.takeByte()) << 8;
    const bool smallCap = mode & 1;
    const qsizetype cap = smallCap ? 12 + input.takeUpTo(120) : frames::DefaultBufferCap;
    const QByteArray stream = input.takeRest();

    for (const QList<QByteArray>& chunks : fuzz::chunkings(stream, seed)) {
        Choices choices(seed ^ mode);
        CharacterByCharacter reference;
        QList<QByteArray> got;
        ModemInputSplitter splitter([&got](QByteArray line) { got.append(std::move(line)); }, cap);
        QList<QByteArray> expected;
        for (const QByteArray& chunk : chunks) {
            // Mostly one mode for a while, as a call goes from commands to connected.
            const bool connected = (mode & 2) ? choices.oneIn(2) : (mode & 4) != 0;
            const qsizetype before = got.size();
            splitter.SplitModemInput(chunk, connected);
            const QList<QByteArray> lines = reference.split(chunk, connected);
            expected += lines;
            if (!smallCap) {
                // The same lines at the same call, and the same text left over.
                FUZZ_CHECK(got.mid(before) == lines);
                FUZZ_CHECK(splitter.pending() == reference.buffer);
            } else {
                FUZZ_CHECK(splitter.buffered() <= std::max<qsizetype>(cap, 7));
            }
        }
        if (smallCap) {
            // An unfinished line that outgrew the cap is dropped whole; every other line
            // arrives, in order.
            qsizetype g = 0;
            for (const QByteArray& line : expected) {
                if (g < got.size() && got[g] == line)
                    ++g;
                else
                    FUZZ_CHECK(line.size() > cap);
            }
            FUZZ_CHECK(g == got.size());
            FUZZ_CHECK(splitter.droppedLines() >= expected.size() - got.size());
        }
    }
    return 0;
}
