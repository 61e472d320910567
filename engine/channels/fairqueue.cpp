#include "engine/channels/fairqueue.h"

#include <algorithm>

namespace tellaran {

void FairQueue::push(FlowId flow, QByteArray frame)
{
    auto [found, added] = flows_.try_emplace(flow);
    Flow& entry = found->second;
    total_ += frame.size();
    entry.backlog += frame.size();
    const bool wasIdle = entry.frames.empty();
    entry.frames.push_back(std::move(frame));
    if (wasIdle) {
        entry.deficit = std::max<qsizetype>(1, quantum_);
        newFlows_.push_back(flow);
    }
}

const QByteArray* FairQueue::next()
{
    for (;;) {
        std::deque<FlowId>& list = activeList();
        if (list.empty())
            return nullptr;
        Flow& flow = flows_.at(list.front());
        if (flow.frames.front().size() <= flow.deficit)
            return &flow.frames.front();
        // Its credit does not cover its frame: the turn passes on, and the credit grows.
        flow.deficit += std::max<qsizetype>(1, quantum_);
        oldFlows_.push_back(list.front());
        list.pop_front();
    }
}

QByteArray FairQueue::takeNext(FlowId* taken)
{
    if (!next())
        return {};
    std::deque<FlowId>& list = activeList();
    const FlowId id = list.front();
    if (taken)
        *taken = id;
    const auto found = flows_.find(id);
    Flow& flow = found->second;
    QByteArray frame = std::move(flow.frames.front());
    flow.frames.pop_front();
    flow.deficit -= frame.size();
    flow.backlog -= frame.size();
    total_ -= frame.size();
    if (flow.frames.empty()) {
        // An idle flow keeps no credit and no memory; its next frame makes it new again.
        list.pop_front();
        flows_.erase(found);
    }
    return frame;
}

void FairQueue::clear()
{
    flows_.clear();
    newFlows_.clear();
    oldFlows_.clear();
    total_ = 0;
}

qsizetype FairQueue::backlog(FlowId flow) const
{
    const auto found = flows_.find(flow);
    return found == flows_.end() ? 0 : found->second.backlog;
}

qsizetype FairQueue::frameCount(FlowId flow) const
{
    const auto found = flows_.find(flow);
    return found == flows_.end() ? 0 : qsizetype(found->second.frames.size());
}

QByteArray FairQueue::inOrder() const
{
    // The frames are shared, not copied.
    FairQueue copy = *this;
    QByteArray all;
    all.reserve(total_);
    while (!copy.isEmpty())
        all += copy.takeNext();
    return all;
}

} // namespace tellaran
