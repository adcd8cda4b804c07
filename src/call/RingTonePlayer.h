#pragma once

#include <QString>

namespace talvora {

// The player of the ring tone, as the call session drives it: close whatever was open, open a
// file, play it once from the start, stop it, ask whether it plays.
class RingTonePlayer {
public:
    virtual ~RingTonePlayer() = default;

    virtual void close() = 0;
    virtual void open(const QString& path) = 0;
    virtual void playFromStart() = 0;
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
};

} // namespace talvora
