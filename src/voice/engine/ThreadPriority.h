#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace talvora::voice {

// What a voice thread was given.
enum class PriorityGrant {
    Realtime, // SCHED_RR
    Raised,   // a lower nice level
    Normal,
};

// The threads that meet a deadline every few milliseconds (capture, playback, the network thread
// and the sound server connection's own) run SCHED_RR at this priority: below the sound servers'
// own threads (PulseAudio's 5, PipeWire's data loop), so the server is never kept from serving
// us, and within rtkit's ceiling (20).
inline constexpr int kVoiceRealtimePriority = 4;
// The nice level asked for when real-time scheduling is refused: PulseAudio's own, within rtkit's
// floor (-15).
inline constexpr int kVoiceNiceLevel = -11;
// How the system raises the calling thread's priority: a seam, so that tests can grant and
// refuse.
class PriorityControl {
public:
    virtual ~PriorityControl() = default;
    // SCHED_RR at `priority` (or the highest below it that is granted), directly or through
    // rtkit's MakeThreadRealtime.
    virtual bool makeRealtime(int priority) = 0;
    // `niceLevel`, directly or through rtkit's MakeThreadHighPriority.
    virtual bool makeHighPriority(int niceLevel) = 0;
};

// The system's own: libpulse's pa_thread_make_realtime(), which tries SCHED_RR and then rtkit
// (bringing RLIMIT_RTTIME within rtkit's limit, 200 ms, as rtkit demands); for the nice level
// setpriority(), then rtkit over the system bus (libdbus). Each call may wait on the system bus,
// so threads ask once, before their loop begins.
class SystemPriorityControl final : public PriorityControl {
public:
    bool makeRealtime(int priority) override;
    bool makeHighPriority(int niceLevel) override;
};

// The voice threads' way to ask for priority, shared by every call of a terminal. A thread left
// at normal priority does not fail: the call goes on, and `leftNormal` is called once in the
// life of this object (on that thread, so it must only hand the news on).
class ThreadPriority {
public:
    explicit ThreadPriority(
        std::shared_ptr<PriorityControl> control = std::make_shared<SystemPriorityControl>(),
        std::function<void()> leftNormal = {});

    // On the thread to raise: real-time scheduling, else a raised nice level, else normal.
    PriorityGrant raiseAudioThread();
    struct Counts {
        int realtime = 0;
        int raised = 0;
        int normal = 0;
    };
    // What the threads that asked so far were given (from any thread).
    Counts counts() const;

private:
    PriorityGrant note(PriorityGrant grant);

    const std::shared_ptr<PriorityControl> m_control;
    const std::function<void()> m_leftNormal;
    std::atomic<bool> m_saidNormal{false};
    std::atomic<int> m_realtime{0};
    std::atomic<int> m_raised{0};
    std::atomic<int> m_normal{0};
};

} // namespace talvora::voice
