#pragma once

#include "call/RingTonePlayer.h"

#include <QAudioOutput>
#include <QMediaPlayer>

namespace talvora {

// The ring tone on Qt Multimedia (GStreamer): wav, mp3 and wma files play through the installed
// plugins. Errors of the media back end (a file it cannot decode, no sound device) only mean no
// tone; the call rings all the same.
class MediaRingTonePlayer final : public RingTonePlayer {
public:
    MediaRingTonePlayer();

    void close() override;
    void open(const QString& path) override;
    void playFromStart() override;
    void stop() override;
    bool isPlaying() const override;

    // For observing the back end in tests.
    QMediaPlayer& mediaPlayer() { return m_player; }

private:
    QAudioOutput m_output;
    QMediaPlayer m_player;
};

} // namespace talvora
