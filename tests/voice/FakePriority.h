#pragma once

#include "voice/engine/ThreadPriority.h"

#include <atomic>

namespace talvora::voice::test {

// A system that grants or refuses what the voice threads ask for, and counts the asking.
class FakePriorityControl final : public PriorityControl {
public:
    FakePriorityControl(bool realtime, bool highPriority)
        : m_realtime(realtime), m_highPriority(highPriority) {}

    bool makeRealtime(int priority) override {
        ++realtimeAsks;
        realtimePriority = priority;
        return m_realtime;
    }
    bool makeHighPriority(int niceLevel) override {
        ++highPriorityAsks;
        this->niceLevel = niceLevel;
        return m_highPriority;
    }

    std::atomic<int> realtimeAsks{0};
    std::atomic<int> highPriorityAsks{0};
    std::atomic<int> realtimePriority{0};
    std::atomic<int> niceLevel{0};

private:
    const bool m_realtime;
    const bool m_highPriority;
};

} // namespace talvora::voice::test
