#pragma once

#include <functional>
#include <memory>

namespace talvora {

// A periodic tick that paces a synthetic frame source. The real one is a QTimer; tests use a
// manual one and step frames themselves.
class FrameTicker {
public:
    virtual ~FrameTicker() = default;

    virtual void setCallback(std::function<void()> onTick) = 0;
    virtual void start(int intervalMs) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

std::unique_ptr<FrameTicker> makeTimerFrameTicker();

} // namespace talvora
