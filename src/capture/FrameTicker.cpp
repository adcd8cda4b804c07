#include "capture/FrameTicker.h"

#include <QTimer>

namespace talvora {

namespace {

class TimerFrameTicker final : public FrameTicker {
public:
    TimerFrameTicker() {
        // Frame pacing wants the precise timer; the coarse one drifts by up to 5 %.
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            if (m_onTick)
                m_onTick();
        });
    }

    void setCallback(std::function<void()> onTick) override { m_onTick = std::move(onTick); }
    void start(int intervalMs) override { m_timer.start(intervalMs); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
    std::function<void()> m_onTick;
};

} // namespace

std::unique_ptr<FrameTicker> makeTimerFrameTicker() {
    return std::make_unique<TimerFrameTicker>();
}

} // namespace talvora
