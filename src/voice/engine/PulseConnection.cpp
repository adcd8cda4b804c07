#include "voice/engine/PulseConnection.h"

#include "voice/engine/ThreadPriority.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

namespace talvora::voice {

MainloopLock::MainloopLock(pa_threaded_mainloop* loop) : m_loop(loop) {
    pa_threaded_mainloop_lock(m_loop);
}
MainloopLock::~MainloopLock() {
    pa_threaded_mainloop_unlock(m_loop);
}

namespace {

void signalLoop(void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

void contextStateChanged(pa_context*, void* userdata) {
    signalLoop(userdata);
}

struct TimeoutFlag {
    pa_threaded_mainloop* loop;
    bool expired = false;
};

void timeoutExpired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* flag = static_cast<TimeoutFlag*>(userdata);
    flag->expired = true;
    pa_threaded_mainloop_signal(flag->loop, 0);
}

struct InfoQuery {
    pa_threaded_mainloop* loop = nullptr;
    bool finished = false;
    std::optional<PulseDeviceInfo> info;
};

void sourceInfoArrived(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* query = static_cast<InfoQuery*>(userdata);
    if (eol != 0 || info == nullptr) {
        query->finished = true;
        pa_threaded_mainloop_signal(query->loop, 0);
        return;
    }
    query->info = PulseDeviceInfo{info->name ? info->name : "", static_cast<int>(info->sample_spec.rate),
                                  info->monitor_of_sink != PA_INVALID_INDEX};
}

void sinkInfoArrived(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* query = static_cast<InfoQuery*>(userdata);
    if (eol != 0 || info == nullptr) {
        query->finished = true;
        pa_threaded_mainloop_signal(query->loop, 0);
        return;
    }
    query->info =
        PulseDeviceInfo{info->name ? info->name : "", static_cast<int>(info->sample_spec.rate), false};
}

} // namespace

std::shared_ptr<PulseConnection> PulseConnection::connect(const std::string& applicationName, int timeoutMs,
                                                          std::shared_ptr<ThreadPriority> priority) {
    std::shared_ptr<PulseConnection> connection(new PulseConnection());
    connection->m_mainloop = pa_threaded_mainloop_new();
    if (connection->m_mainloop == nullptr) {
        return nullptr;
    }
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, applicationName.c_str());
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "phone");
    connection->m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(connection->m_mainloop),
                                                         applicationName.c_str(), props);
    pa_proplist_free(props);
    if (connection->m_context == nullptr) {
        return nullptr;
    }
    pa_context_set_state_callback(connection->m_context, contextStateChanged, connection->m_mainloop);
    if (pa_threaded_mainloop_start(connection->m_mainloop) < 0) {
        return nullptr;
    }
    MainloopLock lock(connection->m_mainloop);
    if (pa_context_connect(connection->m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return nullptr;
    }
    pa_context* context = connection->m_context;
    connection->waitLocked(
        [context] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeoutMs);
    if (pa_context_get_state(context) != PA_CONTEXT_READY) {
        return nullptr;
    }
    if (priority) {
        // The request runs on the event thread, without the lock: rtkit may take a moment, and
        // nobody waits for it.
        connection->m_priority = std::move(priority);
        pa_threaded_mainloop_once_unlocked(
            connection->m_mainloop,
            [](pa_threaded_mainloop*, void* p) { static_cast<ThreadPriority*>(p)->raiseAudioThread(); },
            connection->m_priority.get());
    }
    return connection;
}

PulseConnection::~PulseConnection() {
    if (m_mainloop != nullptr) {
        pa_threaded_mainloop_stop(m_mainloop);
    }
    if (m_context != nullptr) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    if (m_mainloop != nullptr) {
        pa_threaded_mainloop_free(m_mainloop);
    }
}

bool PulseConnection::ready() const {
    return pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

bool PulseConnection::waitLocked(const std::function<bool()>& done, int timeoutMs) {
    if (done()) {
        return true;
    }
    TimeoutFlag flag{m_mainloop};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop);
    pa_time_event* timer = pa_context_rttime_new(
        m_context, pa_rtclock_now() + static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC, timeoutExpired,
        &flag);
    bool ok = false;
    for (;;) {
        if (done()) {
            ok = true;
            break;
        }
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (flag.expired || (state != PA_CONTEXT_READY && !PA_CONTEXT_IS_GOOD(state))) {
            break;
        }
        pa_threaded_mainloop_wait(m_mainloop);
    }
    if (timer != nullptr) {
        api->time_free(timer);
    }
    return ok;
}

bool PulseConnection::waitOperationLocked(pa_operation* op, const bool& finished, int timeoutMs) {
    if (op == nullptr) {
        return false;
    }
    const bool ok = waitLocked([&finished] { return finished; }, timeoutMs);
    if (!ok) {
        pa_operation_cancel(op);
    }
    pa_operation_unref(op);
    return ok;
}

std::optional<PulseDeviceInfo> querySourceLocked(PulseConnection& connection, const std::string& name,
                                                 int timeoutMs) {
    InfoQuery query;
    query.loop = connection.mainloop();
    pa_operation* op =
        pa_context_get_source_info_by_name(connection.context(), name.c_str(), sourceInfoArrived, &query);
    if (!connection.waitOperationLocked(op, query.finished, timeoutMs)) {
        return std::nullopt;
    }
    return query.info;
}

std::optional<PulseDeviceInfo> querySinkLocked(PulseConnection& connection, const std::string& name,
                                               int timeoutMs) {
    InfoQuery query;
    query.loop = connection.mainloop();
    pa_operation* op =
        pa_context_get_sink_info_by_name(connection.context(), name.c_str(), sinkInfoArrived, &query);
    if (!connection.waitOperationLocked(op, query.finished, timeoutMs)) {
        return std::nullopt;
    }
    return query.info;
}

namespace {

struct ServerNameQuery {
    pa_threaded_mainloop* loop = nullptr;
    bool finished = false;
    std::string name;
};

void serverInfoArrived(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<ServerNameQuery*>(userdata);
    if (info != nullptr && info->server_name != nullptr) {
        query->name = info->server_name;
    }
    query->finished = true;
    pa_threaded_mainloop_signal(query->loop, 0);
}

} // namespace

std::optional<std::string> queryServerNameLocked(PulseConnection& connection, int timeoutMs) {
    ServerNameQuery query;
    query.loop = connection.mainloop();
    pa_operation* op = pa_context_get_server_info(connection.context(), serverInfoArrived, &query);
    if (!connection.waitOperationLocked(op, query.finished, timeoutMs)) {
        return std::nullopt;
    }
    return query.name;
}

} // namespace talvora::voice
