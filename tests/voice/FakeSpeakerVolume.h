#pragma once

#include "voice/SpeakerVolume.h"

namespace talvora {

// An output in memory, for tests: it remembers what was written and how often.
class FakeSpeakerVolume final : public SpeakerVolume {
public:
    bool hasVolumeControl = true;
    quint16 left = 0;
    quint16 right = 0;
    int writes = 0;

    SpeakerVolumeReading GetSpeakerVolume() override {
        return hasVolumeControl ? SpeakerVolumeReading{true, left, right} : SpeakerVolumeReading{};
    }
    bool SetSpeakerVolume(quint32 packed) override {
        if (!hasVolumeControl) {
            return false;
        }
        left = static_cast<quint16>(packed & 0xFFFF);
        right = static_cast<quint16>(packed >> 16);
        ++writes;
        return true;
    }
};

} // namespace talvora
