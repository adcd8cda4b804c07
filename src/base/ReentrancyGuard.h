#pragma once

namespace talvora {

// How deep the running code is inside one call path that can be entered again before it
// returns. The frame path is such a path: a frame handler may run a nested event loop (a
// message box, a modal dialog) in which the next frame, tick or datagram arrives. Each site
// decides what re-entry means for it (drop the nested frame, use another buffer, put off a
// deletion until the outer call is over); the guard only counts, and an Entry undoes its count
// however its scope is left, exceptions included.
class ReentrancyGuard {
public:
    // Marks the lifetime of one call of the guarded path.
    class [[nodiscard]] Entry {
    public:
        explicit Entry(ReentrancyGuard& guard) : m_guard(guard) { ++m_guard.m_depth; }
        ~Entry() { --m_guard.m_depth; }

        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

    private:
        ReentrancyGuard& m_guard;
    };

    ReentrancyGuard() = default;
    ReentrancyGuard(const ReentrancyGuard&) = delete;
    ReentrancyGuard& operator=(const ReentrancyGuard&) = delete;

    // True while at least one Entry is alive: the code runs inside the guarded path.
    bool active() const { return m_depth > 0; }
    // The number of live Entries: 1 in the outermost call, 2 in a call nested in it, and so on.
    int depth() const { return m_depth; }

private:
    int m_depth = 0;
};

} // namespace talvora
