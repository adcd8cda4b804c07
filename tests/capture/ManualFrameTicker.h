#pragma once

#include "capture/FrameTicker.h"

namespace talvora::test {

// A FrameTicker the test steps by hand. The test keeps a pointer to it; the camera owns it.
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
        if (m_active && m_onTick)
            m_onTick();
    }

    int intervalMsSeen = 0;

private:
    std::function<void()> m_onTick;
    bool m_active = false;
};

} // namespace talvora::test
