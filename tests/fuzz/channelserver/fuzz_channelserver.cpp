// The channel server and DispatchFrame fed by several connections at once, one of them the
// engine's own: random blocks, closes, flow-control pauses and retries of held frames. Whatever
// comes, the engine's own connection never registers anything nor sends anything to the other
// computer, the table holds only DataIDs its file can hold, the carry-over total is the sum of
// the buffers, and the modem gets exactly the link frames of the local frames, whole, each
// connection's in its own order.
#include "engine/channels/form2.h"
#include "engine/link/frames.h"
#include "tests/fuzz/fuzzinput.h"
#include "tests/support/fakeengine.h"

#include <QCoreApplication>
#include <deque>
#include <map>
#include <memory>

using namespace tellaran;
using tellaran::fuzz::FuzzInput;

namespace {

constexpr int Connections = 4;
// Connection 1 stands for the modem window's own.
constexpr int OwnIndex = 1;

testing::FakeEngine& engine()
{
    static testing::FakeEngine* instance = [] {
        auto* made = new testing::FakeEngine;
        made->ownRelayConnection = [](const QHostAddress&, quint16 port) {
            return port == OwnIndex;
        };
        return made;
    }();
    return *instance;
}

} // namespace

int fuzzOne(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    testing::FakeEngine& fake = engine();
    fake.trafficCounters = {};
    // Built afresh for each input: the table starts empty, the server listens on no port.
    ChannelTable table(fake);
    TransmitQueue senddata(64 * 1024);
    std::unique_ptr<ChannelServer> server;
    FrameDispatcher* dispatcher = nullptr;
    // What must reach the modem: every local frame the queue took, as a link frame, in the
    // order of the queue it waits in; and what was committed to the line, in order.
    std::map<FairQueue::FlowId, std::deque<QByteArray>> expected;
    QByteArray committed;
    server = std::make_unique<ChannelServer>(fake, table, [&](int index, const QByteArray& frame) {
        const int droppedBefore = senddata.droppedFrames();
        dispatcher->DispatchFrame(frame, index);
        if (!frame.isEmpty() &&
            frames::parseRelayedFrame(frame).kind == frames::RelayedFrame::Outgoing &&
            senddata.droppedFrames() == droppedBefore)
            expected[senddata.currentFlow(index)].push_back(frames::linkFrame(frame));
    });
    senddata.setCommitObserver([&](FairQueue::FlowId flow, int, const QByteArray& frame) {
        std::deque<QByteArray>& waiting = expected[flow];
        FUZZ_CHECK(!waiting.empty() && waiting.front() == frame);
        if (!waiting.empty())
            waiting.pop_front();
        committed += frame;
    });
    QObject::connect(server.get(), &ChannelServer::connectionRemoved,
                     [&](int index) { senddata.connectionClosed(index); });
    FrameDispatcher dispatch(fake, table, *server, senddata);
    dispatcher = &dispatch;
    server->setBufferCap(input.takeUpTo(4096) + 16);
    server->setCarryOverBudget(input.takeUpTo(16384) + 64);
    senddata.setWaterMarks(input.takeUpTo(2048) + 1, input.takeUpTo(1024));
    senddata.setTotalWaterMarks(input.takeUpTo(8192) + 1, input.takeUpTo(4096));
    senddata.setFlowObserver(
        [&](int index, bool paused) { server->setConnectionPaused(index, paused); });
    table.Reset();
    QByteArray drained;
    for (int index = 1; index <= Connections; ++index)
        server->OpenConnection(index, QHostAddress(QHostAddress::LocalHost), quint16(index));

    while (!input.atEnd()) {
        const int action = input.takeUpTo(15);
        const int index = 1 + input.takeUpTo(Connections - 1);
        const QByteArray queuedBefore = senddata.senddata();
        const qsizetype recordsBefore = table.records().size();
        if (action < 11) {
            server->ReceiveBlock(index, input.takeShort());
        } else if (action == 11) {
            server->Listener_Close(index);
        } else if (action == 12) {
            drained += senddata.take(input.takeUpTo(4096)); // the drain takes any piece

        } else if (action == 13) {
            dispatch.Timerunk_Timer();
        } else if (action == 14) {
            QCoreApplication::processEvents(); // held frames go on after a resume
        } else {
            server->ReceiveBlock(index, frames::registration(input.take(8)) + input.takeShort());
        }
        if (index == OwnIndex && action < 11) {
            FUZZ_CHECK(senddata.senddata() == queuedBefore);
            FUZZ_CHECK(table.records().size() <= recordsBefore);
        }
        for (const ChannelRecord& record : table.records()) {
            FUZZ_CHECK(record.index != OwnIndex);
            FUZZ_CHECK(ChannelTable::IsStorableDataId(record.dataId));
        }
        qint64 held = 0;
        for (int i = 1; i <= Connections; ++i) {
            if (const FrameSplitter* splitter = server->splitter(i))
                held += splitter->memoryHeld();
        }
        FUZZ_CHECK(server->carryOverTotal() == held);
        // The line holds the committed frames not yet taken, nothing else.
        FUZZ_CHECK(drained + senddata.senddata().first(senddata.committed()) == committed);
        qsizetype waiting = 0;
        for (const auto& [flow, frames] : expected) {
            for (const QByteArray& frame : frames)
                waiting += frame.size();
        }
        FUZZ_CHECK(senddata.size() - senddata.committed() == waiting);
        FUZZ_CHECK(fake.counters().noofchan == table.records().size());
    }
    return 0;
}
