#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

namespace talvora::voice {

class ThreadPriority;

// One connection to the sound server (PulseAudio, or PipeWire's PulseAudio service) with its own
// event thread: libpulse's threaded main loop. Every libpulse call on our side happens with the
// loop locked (MainloopLock); waits carry a time-out so a stuck server cannot hang a caller.
//
// The threaded loop (rather than pa_simple) is what lets us tag the streams as a phone call,
// ask for the devices' own rates, wake a blocked read or write at once on Stop, and give every
// request a time-out.
class PulseConnection {
public:
    // Connects as `applicationName`, waiting at most `timeoutMs`. Null when no server answers.
    // Never starts a server of its own. The event thread asks `priority` (unless null) for
    // real-time scheduling once connected: it carries every request of the streams.
    static std::shared_ptr<PulseConnection> connect(const std::string& applicationName, int timeoutMs,
                                                    std::shared_ptr<ThreadPriority> priority = nullptr);

    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* mainloop() const { return m_mainloop; }
    pa_context* context() const { return m_context; }
    // Still connected (call with the loop locked).
    bool ready() const;

    // With the loop locked: waits until `done` holds, the time-out passes (false) or the
    // connection fails (false). Callbacks must call pa_threaded_mainloop_signal(loop, 0).
    bool waitLocked(const std::function<bool()>& done, int timeoutMs);
    // With the loop locked: waits for an operation; cancels it on time-out (its callback then
    // never runs, so it may point at the caller's stack). Takes ownership of `op`.
    bool waitOperationLocked(pa_operation* op, const bool& finished, int timeoutMs);

private:
    PulseConnection() = default;

    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    std::shared_ptr<ThreadPriority> m_priority; // kept for the event thread's request
};

// RAII lock of a threaded main loop.
class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* loop);
    ~MainloopLock();
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

// Facts about a sound device.
struct PulseDeviceInfo {
    std::string name;
    int sampleRateHz = 0;
    bool isMonitor = false; // a source that records a sink, not a microphone
};

// With the loop locked: the named source or sink ("@DEFAULT_SOURCE@", "@DEFAULT_SINK@").
std::optional<PulseDeviceInfo> querySourceLocked(PulseConnection& connection, const std::string& name,
                                                 int timeoutMs);
std::optional<PulseDeviceInfo> querySinkLocked(PulseConnection& connection, const std::string& name,
                                               int timeoutMs);

// With the loop locked: the server's name as it gives it ("pulseaudio", or "PulseAudio (on
// PipeWire 0.3.65)" from PipeWire's PulseAudio service).
std::optional<std::string> queryServerNameLocked(PulseConnection& connection, int timeoutMs);

} // namespace talvora::voice
