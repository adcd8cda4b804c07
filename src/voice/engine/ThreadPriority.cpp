#include "voice/engine/ThreadPriority.h"

#include <dbus/dbus.h>
#include <pulse/util.h>

#include <sys/resource.h>
#include <unistd.h>

namespace talvora::voice {

namespace {

// rtkit answers at once or not at all; a thread about to start a call must not wait long.
constexpr int kRtkitTimeoutMs = 1000;

struct BusDeleter {
    void operator()(DBusConnection* bus) const {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
    }
};
struct MessageDeleter {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Bus = std::unique_ptr<DBusConnection, BusDeleter>;
using Message = std::unique_ptr<DBusMessage, MessageDeleter>;

class ErrorHolder {
public:
    ErrorHolder() { dbus_error_init(&m_error); }
    ~ErrorHolder() { dbus_error_free(&m_error); }
    ErrorHolder(const ErrorHolder&) = delete;
    ErrorHolder& operator=(const ErrorHolder&) = delete;
    DBusError* get() { return &m_error; }

private:
    DBusError m_error;
};

} // namespace

bool SystemPriorityControl::makeRealtime(int priority) {
    return pa_thread_make_realtime(priority) == 0;
}

bool SystemPriorityControl::makeHighPriority(int niceLevel) {
    // Allowed outright with CAP_SYS_NICE or a generous RLIMIT_NICE.
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), niceLevel) == 0) {
        return true;
    }
    ErrorHolder error;
    // A private connection: the shared one would tie this thread to whoever else uses libdbus.
    Bus bus(dbus_bus_get_private(DBUS_BUS_SYSTEM, error.get()));
    if (!bus) {
        return false;
    }
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    Message call(dbus_message_new_method_call("org.freedesktop.RealtimeKit1", "/org/freedesktop/RealtimeKit1",
                                              "org.freedesktop.RealtimeKit1", "MakeThreadHighPriority"));
    if (!call) {
        return false;
    }
    const dbus_uint64_t thread = static_cast<dbus_uint64_t>(gettid());
    const dbus_int32_t nice = niceLevel;
    if (!dbus_message_append_args(call.get(), DBUS_TYPE_UINT64, &thread, DBUS_TYPE_INT32, &nice,
                                  DBUS_TYPE_INVALID)) {
        return false;
    }
    Message reply(
        dbus_connection_send_with_reply_and_block(bus.get(), call.get(), kRtkitTimeoutMs, error.get()));
    return reply && !dbus_set_error_from_message(error.get(), reply.get());
}

ThreadPriority::ThreadPriority(std::shared_ptr<PriorityControl> control, std::function<void()> leftNormal)
    : m_control(std::move(control)), m_leftNormal(std::move(leftNormal)) {}

PriorityGrant ThreadPriority::raiseAudioThread() {
    if (m_control->makeRealtime(kVoiceRealtimePriority)) {
        return note(PriorityGrant::Realtime);
    }
    return note(m_control->makeHighPriority(kVoiceNiceLevel) ? PriorityGrant::Raised : PriorityGrant::Normal);
}

PriorityGrant ThreadPriority::note(PriorityGrant grant) {
    switch (grant) {
    case PriorityGrant::Realtime:
        ++m_realtime;
        break;
    case PriorityGrant::Raised:
        ++m_raised;
        break;
    case PriorityGrant::Normal:
        ++m_normal;
        if (!m_saidNormal.exchange(true) && m_leftNormal) {
            m_leftNormal();
        }
        break;
    }
    return grant;
}

ThreadPriority::Counts ThreadPriority::counts() const {
    return {m_realtime.load(), m_raised.load(), m_normal.load()};
}

} // namespace talvora::voice
