#pragma once

#include <QtGlobal>

#include <memory>

namespace talvora {

// The speaker volume of the machine, as the volume slider sets it: one packed 32-bit value, the
// low 16 bits the left channel and the high 16 bits the right, each 0 (silence) to 65535 (full).
struct SpeakerVolumeReading {
    bool ok = false; // false: no sound server, or an output without volume control
    quint16 left = 0;
    quint16 right = 0;
};

inline constexpr quint32 packSpeakerVolume(quint16 left, quint16 right) {
    return quint32{left} | (quint32{right} << 16);
}

// Both calls wait for the sound server: the phone makes them through a SpeakerVolumeWorker.
class SpeakerVolume {
public:
    virtual ~SpeakerVolume() = default;
    // Reads the volume; `left` is what the slider starts at.
    virtual SpeakerVolumeReading GetSpeakerVolume() = 0;
    // Writes the volume; false (and nothing written) when the output has no volume control.
    virtual bool SetSpeakerVolume(quint32 packed) = 0;
};

} // namespace talvora
