#include "contacts/QtAvahiPoll.h"

#include <avahi-common/timeval.h>

#include <QSocketNotifier>
#include <QTimer>

#include <memory>

// Avahi declares these types opaque; each poll implementation defines them.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    AvahiWatchEvent happened = AvahiWatchEvent(0);
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

struct AvahiTimeout {
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
    std::unique_ptr<QTimer> timer;
};

namespace talvora {

namespace {

// A notifier or timer may be released from inside its own signal (Avahi frees watches and
// timeouts from their callbacks), so it is deleted once control is back in the event loop.
template <class T> void release(std::unique_ptr<T>& object) {
    if (object) {
        object->setEnabled(false);
        object.release()->deleteLater();
    }
}
void release(std::unique_ptr<QTimer>& timer) {
    if (timer) {
        timer->stop();
        timer.release()->deleteLater();
    }
}

void arm(AvahiWatch* w, AvahiWatchEvent events) {
    auto notifier = [w](QSocketNotifier::Type type, AvahiWatchEvent event) {
        auto n = std::make_unique<QSocketNotifier>(w->fd, type);
        QObject::connect(n.get(), &QSocketNotifier::activated, n.get(), [w, event] {
            w->happened = event;
            // The callback may free `w`: nothing touches it afterwards.
            w->callback(w, w->fd, event, w->userdata);
        });
        return n;
    };
    release(w->read);
    release(w->write);
    if (events & AVAHI_WATCH_IN) {
        w->read = notifier(QSocketNotifier::Read, AVAHI_WATCH_IN);
    }
    if (events & AVAHI_WATCH_OUT) {
        w->write = notifier(QSocketNotifier::Write, AVAHI_WATCH_OUT);
    }
}

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata) {
    auto* w = new AvahiWatch;
    w->fd = fd;
    w->callback = callback;
    w->userdata = userdata;
    arm(w, events);
    return w;
}

void watchUpdate(AvahiWatch* w, AvahiWatchEvent events) {
    arm(w, events);
}

AvahiWatchEvent watchGetEvents(AvahiWatch* w) {
    return w->happened;
}

void watchFree(AvahiWatch* w) {
    release(w->read);
    release(w->write);
    delete w;
}

void schedule(AvahiTimeout* t, const struct timeval* tv) {
    if (tv == nullptr) {
        t->timer->stop();
        return;
    }
    // avahi_age is how long ago `tv` was, in microseconds: negative for a time still to come.
    const AvahiUsec wait = -avahi_age(tv);
    t->timer->start(wait <= 0 ? 0 : int((wait + 999) / 1000));
}

AvahiTimeout* timeoutNew(const AvahiPoll*, const struct timeval* tv, AvahiTimeoutCallback callback,
                         void* userdata) {
    auto* t = new AvahiTimeout;
    t->callback = callback;
    t->userdata = userdata;
    t->timer = std::make_unique<QTimer>();
    t->timer->setSingleShot(true);
    QObject::connect(t->timer.get(), &QTimer::timeout, t->timer.get(), [t] { t->callback(t, t->userdata); });
    schedule(t, tv);
    return t;
}

void timeoutUpdate(AvahiTimeout* t, const struct timeval* tv) {
    schedule(t, tv);
}

void timeoutFree(AvahiTimeout* t) {
    release(t->timer);
    delete t;
}

} // namespace

QtAvahiPoll::QtAvahiPoll() {
    m_poll.userdata = this;
    m_poll.watch_new = watchNew;
    m_poll.watch_update = watchUpdate;
    m_poll.watch_get_events = watchGetEvents;
    m_poll.watch_free = watchFree;
    m_poll.timeout_new = timeoutNew;
    m_poll.timeout_update = timeoutUpdate;
    m_poll.timeout_free = timeoutFree;
}

} // namespace talvora
