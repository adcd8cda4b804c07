#pragma once

#include "voice/engine/ThreadPriority.h"

#include <atomic>

namespace talvora::voice::test {

// A system that grants or refuses what the voice threads ask for, and notes the asking.
class FakePriorityControl final : public PriorityControl {
public:
    FakePriorityControl(bool realtime, bool highPriority)
        : m_realtime(realtime), m_highPriority(highPriority) {}
    bool makeRealtime(int priority) override {
        ++realtimeAsks;
        realtimePriority = priority;
        return m_realtime;
    }
    bool makeHighPriority(int nice) override {
        ++highPriorityAsks;
        niceLevel = nice;
        return m_highPriority;
    }

    std::atomic<int> realtimeAsks{0}, highPriorityAsks{0}, realtimePriority{0}, niceLevel{0};

private:
    const bool m_realtime, m_highPriority;
};

} // namespace talvora::voice::test
