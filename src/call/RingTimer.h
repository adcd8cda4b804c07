#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace talvora {

// The ring timer. It behaves like a classic component timer, and the call session relies on
// that: it repeats while enabled (the handler stops it, so in use it is one-shot); setting the
// interval restarts a running timer only when the value changes; enabling an enabled timer does
// nothing, so a second call request does not prolong the ring; an interval of 0 never fires.
class RingTimer {
public:
    virtual ~RingTimer() = default;

    virtual void setInterval(int intervalMs) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    // Called on every tick while enabled with a positive interval.
    virtual void setTimeoutHandler(std::function<void()> handler) = 0;
};

// The ring timer on a QTimer of the main thread's event loop.
class QtRingTimer final : public RingTimer {
public:
    QtRingTimer();

    void setInterval(int intervalMs) override;
    int interval() const override { return m_intervalMs; }
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return m_enabled; }
    void setTimeoutHandler(std::function<void()> handler) override { m_handler = std::move(handler); }

    // Milliseconds to the next tick, or -1 when nothing will fire.
    int remainingTimeMs() const { return m_timer.isActive() ? m_timer.remainingTime() : -1; }

private:
    void restart();

    QTimer m_timer;
    int m_intervalMs = 1000;
    bool m_enabled = false;
    std::function<void()> m_handler;
};

} // namespace talvora
