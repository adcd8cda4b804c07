#include "voice/engine/PipeWireConnection.h"

#include <pipewire/pipewire.h>

#include <mutex>

namespace talvora::voice {

struct PipeWireConnection::Listener {
    spa_hook hook{};
};

namespace {

const pw_core_events& coreEvents(void (*done)(void*, std::uint32_t, int),
                                 void (*error)(void*, std::uint32_t, int, int, const char*)) {
    static const pw_core_events events = [&] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.done = done;
        e.error = error;
        return e;
    }();
    return events;
}

} // namespace

std::shared_ptr<PipeWireConnection> PipeWireConnection::connect(const std::string& remote, int timeoutMs) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });

    std::shared_ptr<PipeWireConnection> connection(new PipeWireConnection);
    connection->m_loop = pw_thread_loop_new("voice-pipewire", nullptr);
    if (connection->m_loop == nullptr) {
        return nullptr;
    }
    // The real-time configuration, as the daemon's own tools use it: its module raises the data
    // thread that runs our streams' process callbacks (SCHED_RR, or rtkit, or a nice level).
    connection->m_context =
        pw_context_new(pw_thread_loop_get_loop(connection->m_loop),
                       pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (connection->m_context == nullptr || pw_thread_loop_start(connection->m_loop) < 0) {
        return nullptr;
    }
    ThreadLoopLock lock(connection->m_loop);
    pw_properties* props =
        remote.empty() ? nullptr : pw_properties_new(PW_KEY_REMOTE_NAME, remote.c_str(), nullptr);
    connection->m_core = pw_context_connect(connection->m_context, props, 0);
    if (connection->m_core == nullptr) {
        return nullptr;
    }
    connection->m_listener = std::make_unique<Listener>();
    pw_core_add_listener(connection->m_core, &connection->m_listener->hook, &coreEvents(coreDone, coreError),
                         connection.get());
    // A socket that accepts is not yet a daemon that serves: one round trip tells.
    connection->m_syncSeq = pw_core_sync(connection->m_core, PW_ID_CORE, 0);
    if (!connection->waitLocked([c = connection.get()] { return c->m_synced; }, timeoutMs)) {
        return nullptr;
    }
    return connection;
}

PipeWireConnection::~PipeWireConnection() {
    if (m_loop != nullptr) {
        pw_thread_loop_stop(m_loop);
    }
    if (m_listener) {
        spa_hook_remove(&m_listener->hook);
    }
    if (m_core != nullptr) {
        pw_core_disconnect(m_core);
    }
    if (m_context != nullptr) {
        pw_context_destroy(m_context);
    }
    if (m_loop != nullptr) {
        pw_thread_loop_destroy(m_loop);
    }
}

void PipeWireConnection::coreDone(void* self, std::uint32_t id, int seq) {
    auto* c = static_cast<PipeWireConnection*>(self);
    if (id == PW_ID_CORE && seq == c->m_syncSeq) {
        c->m_synced = true;
        pw_thread_loop_signal(c->m_loop, false);
    }
}

void PipeWireConnection::coreError(void* self, std::uint32_t id, int, int res, const char*) {
    auto* c = static_cast<PipeWireConnection*>(self);
    // An error about one of our objects is that object's business (a stream sees it in its
    // state); one about the core itself, such as the daemon hanging up, ends the connection.
    if (id == PW_ID_CORE && res == -EPIPE) {
        c->m_alive.store(false);
        pw_thread_loop_signal(c->m_loop, false);
    }
}

bool PipeWireConnection::waitLocked(const std::function<bool()>& done, int timeoutMs) {
    timespec deadline{};
    pw_thread_loop_get_time(m_loop, &deadline, static_cast<std::int64_t>(timeoutMs) * SPA_NSEC_PER_MSEC);
    while (!done()) {
        if (!m_alive.load() || pw_thread_loop_timed_wait_full(m_loop, &deadline) == -ETIMEDOUT) {
            return done();
        }
    }
    return true;
}

ThreadLoopLock::ThreadLoopLock(pw_thread_loop* loop) : m_loop(loop) {
    pw_thread_loop_lock(m_loop);
}

ThreadLoopLock::~ThreadLoopLock() {
    pw_thread_loop_unlock(m_loop);
}

} // namespace talvora::voice
