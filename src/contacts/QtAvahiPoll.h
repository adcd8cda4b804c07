#pragma once

#include <avahi-common/watch.h>

namespace talvora {

// Avahi's event loop interface served by Qt's: descriptors through QSocketNotifier, timeouts
// through QTimer. Every Avahi callback of a client created on it runs on the thread that owns
// this object (the main thread), between other Qt events, so no locks are needed. Must outlive
// every client created on it.
class QtAvahiPoll {
public:
    QtAvahiPoll();
    QtAvahiPoll(const QtAvahiPoll&) = delete;
    QtAvahiPoll& operator=(const QtAvahiPoll&) = delete;

    const AvahiPoll* poll() const { return &m_poll; }

private:
    AvahiPoll m_poll{};
};

} // namespace talvora
