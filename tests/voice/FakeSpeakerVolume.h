#pragma once

#include "voice/SpeakerVolume.h"

#include <atomic>
#include <mutex>

namespace talvora {

// An output in memory, for tests: it remembers what was written and how often. The phone calls
// it from its volume thread while the test reads it.
class FakeSpeakerVolume final : public SpeakerVolume {
public:
    std::atomic<bool> hasVolumeControl = true;
    std::atomic<quint16> left = 0;
    std::atomic<quint16> right = 0;
    std::atomic<int> writes = 0;

    // Held by a test, it makes the server hang: every call waits for it.
    std::mutex server;

    SpeakerVolumeReading GetSpeakerVolume() override {
        const std::lock_guard hang(server);
        return hasVolumeControl ? SpeakerVolumeReading{true, left, right} : SpeakerVolumeReading{};
    }
    bool SetSpeakerVolume(quint32 packed) override {
        const std::lock_guard hang(server);
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
