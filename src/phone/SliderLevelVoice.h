#pragma once

#include "voice/VoiceSession.h"

#include <functional>
#include <memory>

namespace talvora {

// Makes voice sessions whose microphone starts at the level the microphone slider shows. The
// engine itself starts every call at level 80; a user who muted before the call (slider at 0)
// would otherwise be on the air at full level behind a slider that says 0.
class SliderLevelVoiceFactory final : public VoiceSessionFactory {
public:
    SliderLevelVoiceFactory(VoiceSessionFactory& engine, std::function<int()> sliderLevel)
        : m_engine(engine), m_sliderLevel(std::move(sliderLevel)) {}

    std::unique_ptr<VoiceSession> create() override;
    void setNoticeHandler(std::function<void(const QString&)> handler) override {
        m_engine.setNoticeHandler(std::move(handler));
    }

private:
    VoiceSessionFactory& m_engine;
    std::function<int()> m_sliderLevel;
};

} // namespace talvora
