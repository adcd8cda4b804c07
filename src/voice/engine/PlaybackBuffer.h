#pragma once

#include <cstdint>

namespace talvora::voice {

// How much sound the speaker's stream keeps queued on the sound server, as it adapts to the
// machine: it starts small, grows on each underflow the server reports (doubling, or by growMs,
// whichever is less, up to maxMs), and shrinks by shrinkMs after each quietMs without one, never
// below where it started. A machine that cannot keep up pays a little delay instead of a click
// a minute; one that can is not made to pay it. The jitter buffer, which follows the network,
// is another matter.
//
// Time comes from the caller, in milliseconds on any monotonic clock.
class PlaybackBuffer {
public:
    struct Limits {
        int startMs = 20;
        int maxMs = 80;
        int growMs = 10;
        int shrinkMs = 5;
        int quietMs = 20000;
    };

    PlaybackBuffer(Limits limits, std::int64_t nowMs);

    // The server reported an underflow at `nowMs`: the new target.
    int underflow(std::int64_t nowMs);
    // The target at `nowMs`, after the shrinking that the quiet since the last change earned.
    int targetAt(std::int64_t nowMs);
    int targetMs() const { return m_targetMs; }
    const Limits& limits() const { return m_limits; }

private:
    Limits m_limits;
    int m_targetMs;
    std::int64_t m_quietSinceMs; // the last underflow, or the last shrink
};

} // namespace talvora::voice
