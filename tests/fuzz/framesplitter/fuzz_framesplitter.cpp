// The channel side's frame splitter against the simplest cutting there is: the whole stream
// cut at every terminator. Fed in any chunks, held back and handed on at any time, fed again
// from inside its own handler, it must give the same frames in the same order.
#include "engine/link/framesplitter.h"
#include "tests/fuzz/fuzzinput.h"

#include <memory>

using namespace tellaran;
using tellaran::fuzz::Choices;
using tellaran::fuzz::FuzzInput;

namespace {

struct Cut
{
    QList<QByteArray> frames;
    QByteArray pending;
};

Cut cutWholeStream(const QByteArray& stream)
{
    Cut cut;
    qsizetype from = 0;
    for (qsizetype at; (at = stream.indexOf(frames::Terminator, from)) >= 0;) {
        cut.frames.append(stream.mid(from, at - from));
        from = at + frames::Terminator.size();
    }
    cut.pending = stream.mid(from);
    return cut;
}

// Whether `got` is `all` (or, for a run cut short, the start of it) with some frames left
// out, each longer than `shortest`.
bool isWithLongOnesDropped(const QList<QByteArray>& got, const QList<QByteArray>& all,
                           qsizetype shortest, bool cutShort)
{
    qsizetype g = 0;
    for (const QByteArray& frame : all) {
        if (cutShort && g == got.size())
            return true;
        if (g < got.size() && got[g] == frame)
            ++g;
        else if (frame.size() <= shortest)
            return false;
    }
    return g == got.size();
}

struct Run
{
    std::unique_ptr<FrameSplitter> splitter;
    QList<QByteArray> got;
    QList<QByteArray> chunks;
    qsizetype nextChunk = 0;
    int depth = 0;
    Choices choices{0};
    bool holdAtRandom = false;
    bool feedFromHandler = false;
    qsizetype destroyAfter = -1;

    void feedNext() { splitter->SplitFrames(chunks[nextChunk++]); }
    void onFrame(QByteArray frame)
    {
        got.append(std::move(frame));
        if (got.size() == destroyAfter) {
            splitter.reset();
            return;
        }
        // The handler may feed the splitter again (a nested event loop reads the socket).
        if (feedFromHandler && depth < 3 && nextChunk < chunks.size() && choices.oneIn(3)) {
            ++depth;
            feedNext();
            --depth;
        }
    }
};

} // namespace

int fuzzOne(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t mode = input.takeByte();
    const uint32_t seed = input.takeByte() | uint32_t(input.takeByte()) << 8;
    const bool smallCap = mode & 1;
    const qsizetype cap = smallCap ? 8 + input.takeUpTo(120) : frames::DefaultBufferCap;
    const QByteArray stream = input.takeRest();
    const Cut expected = cutWholeStream(stream);

    for (const QList<QByteArray>& chunks : fuzz::chunkings(stream, seed)) {
        Run run;
        run.chunks = chunks;
        run.choices = Choices(seed ^ mode);
        run.holdAtRandom = mode & 2;
        run.feedFromHandler = mode & 4;
        if (mode & 8)
            run.destroyAfter = 1 + (seed % 4);
        run.splitter = std::make_unique<FrameSplitter>(
            [&run](QByteArray frame) { run.onFrame(std::move(frame)); }, cap);
        if (run.holdAtRandom)
            run.splitter->setHoldPredicate([&run] { return run.choices.oneIn(3); });

        while (run.splitter && run.nextChunk < run.chunks.size()) {
            run.feedNext();
            if (run.splitter && run.splitter->isHolding() && run.choices.oneIn(2))
                run.splitter->HandOnHeldFrames();
        }
        if (run.splitter) {
            run.splitter->setHoldPredicate({});
            run.splitter->HandOnHeldFrames();
            FUZZ_CHECK(!run.splitter || !run.splitter->isHolding());
        }

        // Past the cap an incomplete frame is dropped: only frames longer than the cap go
        // missing (the start of a terminator still to come does not count against it), and
        // the rest keep their order.
        const qsizetype partialTerminator = frames::Terminator.size() - 1;
        const qsizetype shortest = smallCap ? cap : stream.size();
        const bool destroyed = !run.splitter;
        FUZZ_CHECK(isWithLongOnesDropped(run.got, expected.frames, shortest, destroyed));
        if (destroyed) {
            // Nothing is handed on once the handler destroyed the splitter.
            FUZZ_CHECK(run.got.size() == run.destroyAfter);
            continue;
        }
        const qsizetype missing = expected.frames.size() - run.got.size();
        FUZZ_CHECK(run.splitter->droppedFrames() >= missing);
        if (!smallCap) {
            FUZZ_CHECK(run.splitter->droppedFrames() == 0);
            FUZZ_CHECK(run.splitter->buffered() == expected.pending.size());
        } else {
            FUZZ_CHECK(run.splitter->buffered() <= cap + partialTerminator);
        }
    }
    return 0;
}
