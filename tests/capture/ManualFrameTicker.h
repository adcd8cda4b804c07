#pragma once

#include "capture/FrameTicker.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace talvora::test {

// A FrameTicker the test steps by hand. The test keeps a pointer to it; the camera owns it. A
// tick fires on the thread the ticker was made on, as a timer would: a camera on the camera
// thread gets its ticks there, and tick() returns when the frame has been handled there.
class ManualFrameTicker final : public FrameTicker {
public:
    void setCallback(std::function<void()> onTick) override { m_onTick = std::move(onTick); }
    void start(int intervalMs) override {
        m_active = true;
        intervalMsSeen = intervalMs;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

    // Fires once when running, as a timer would.
    void tick() {
        if (QThread::currentThread() != m_home.thread()) {
            QMetaObject::invokeMethod(
                &m_home, [this] { tick(); }, Qt::BlockingQueuedConnection);
            return;
        }
        if (m_active && m_onTick)
            m_onTick();
    }

    int intervalMsSeen = 0;

private:
    QObject m_home; // on the thread the ticker was made on
    std::function<void()> m_onTick;
    bool m_active = false;
};

} // namespace talvora::test
