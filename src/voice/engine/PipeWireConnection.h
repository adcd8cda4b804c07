#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct pw_thread_loop;
struct pw_context;
struct pw_core;

namespace talvora::voice {

// How long a request to PipeWire may take (the daemon's answer, a stream's start) before we give
// up on it.
inline constexpr int kPipeWireTimeoutMs = 2000;

// One connection to a PipeWire daemon with its own event thread (a pw_thread_loop), which carries
// the streams' state changes; their audio runs on the context's real-time data thread, which the
// client configuration's real-time module raises (see PipeWireDevices.h). Every PipeWire call on
// our side happens with the loop locked (ThreadLoopLock); waits carry a time-out.
class PipeWireConnection {
public:
    // Connects to `remote` (a socket name or path; the daemon PIPEWIRE_REMOTE or the session's
    // pipewire-0 names when empty) and waits at most `timeoutMs` for the daemon to answer a
    // round trip. Null when none answers. Never starts a daemon.
    static std::shared_ptr<PipeWireConnection> connect(const std::string& remote, int timeoutMs);

    ~PipeWireConnection();
    PipeWireConnection(const PipeWireConnection&) = delete;
    PipeWireConnection& operator=(const PipeWireConnection&) = delete;

    pw_thread_loop* loop() const { return m_loop; }
    pw_core* core() const { return m_core; }
    // The daemon has not hung up or reported the connection broken (from any thread).
    bool alive() const { return m_alive.load(); }

    // With the loop locked: waits until `done` holds (true), or the time-out passes or the
    // connection breaks (false). Callbacks wake it with pw_thread_loop_signal(loop, false).
    bool waitLocked(const std::function<bool()>& done, int timeoutMs);

private:
    PipeWireConnection() = default;
    static void coreDone(void* self, std::uint32_t id, int seq);
    static void coreError(void* self, std::uint32_t id, int seq, int res, const char* message);

    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    struct Listener;
    std::unique_ptr<Listener> m_listener; // the core's, holding `this`
    int m_syncSeq = -1;                   // the loop's
    bool m_synced = false;                // the loop's
    std::atomic<bool> m_alive{true};
};

// RAII lock of a PipeWire thread loop.
class ThreadLoopLock {
public:
    explicit ThreadLoopLock(pw_thread_loop* loop);
    ~ThreadLoopLock();
    ThreadLoopLock(const ThreadLoopLock&) = delete;
    ThreadLoopLock& operator=(const ThreadLoopLock&) = delete;

private:
    pw_thread_loop* m_loop;
};

} // namespace talvora::voice
