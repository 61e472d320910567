#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <deque>
#include <unordered_map>

namespace tellaran {

// Frames waiting per flow, handed out in turn: deficit round robin on bytes. Each turn a flow
// earns one quantum and sends frames while its credit covers them, so busy flows share the
// line byte for byte. A flow that had nothing waiting goes before the busy ones when a frame
// comes (sparse first), so a frame of a program that sends a little leaves after at most the
// frames already chosen.
//
// Within a flow, frames leave in the order they came.
class FairQueue
{
public:
    using FlowId = quint64;
    // About one largest frame of a program that sends 1000-byte payloads.
    static constexpr qsizetype DefaultQuantum = 1100;

    explicit FairQueue(qsizetype quantum = DefaultQuantum) : quantum_(quantum) {}

    void push(FlowId flow, QByteArray frame);
    // The frame that goes next, or nullptr when nothing waits. Choosing may pass turns on;
    // the frame stays first until it is taken.
    const QByteArray* next();
    // Takes the frame next() chose; `flow` tells whose it was.
    QByteArray takeNext(FlowId* flow = nullptr);
    // Drops everything that waits.
    void clear();

    bool isEmpty() const { return total_ == 0 && newFlows_.empty() && oldFlows_.empty(); }
    // Bytes waiting in all flows together, and in one.
    qsizetype totalBytes() const { return total_; }
    qsizetype backlog(FlowId flow) const;
    qsizetype frameCount(FlowId flow) const;
    qsizetype quantum() const { return quantum_; }

    // Every frame that waits, in the order they would go if no other frame came.
    QByteArray inOrder() const;

private:
    struct Flow
    {
        std::deque<QByteArray> frames;
        qsizetype backlog = 0;
        qsizetype deficit = 0;
    };

    std::deque<FlowId>& activeList() { return newFlows_.empty() ? oldFlows_ : newFlows_; }

    qsizetype quantum_;
    std::unordered_map<FlowId, Flow> flows_;
    // Flows with frames waiting: those that were idle until their frame came, then the rest.
    std::deque<FlowId> newFlows_;
    std::deque<FlowId> oldFlows_;
    qsizetype total_ = 0;
};

} // namespace tellaran
