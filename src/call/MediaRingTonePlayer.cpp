#include "call/MediaRingTonePlayer.h"

#include <QUrl>

namespace talvora {

MediaRingTonePlayer::MediaRingTonePlayer() {
    m_player.setAudioOutput(&m_output);
    m_player.setLoops(1); // once, no repeat
    // The back end stays in its playing state after a decoding error; stop it so that the
    // player never claims to play a tone nobody hears.
    QObject::connect(&m_player, &QMediaPlayer::errorOccurred, &m_player, [this] { m_player.stop(); });
}

void MediaRingTonePlayer::close() {
    m_player.stop();
    m_player.setSource(QUrl());
}

void MediaRingTonePlayer::open(const QString& path) {
    m_player.setSource(QUrl::fromLocalFile(path));
}

void MediaRingTonePlayer::playFromStart() {
    m_player.setPosition(0);
    m_player.play();
}

void MediaRingTonePlayer::stop() {
    m_player.stop();
}

bool MediaRingTonePlayer::isPlaying() const {
    return m_player.playbackState() == QMediaPlayer::PlayingState;
}

} // namespace talvora
