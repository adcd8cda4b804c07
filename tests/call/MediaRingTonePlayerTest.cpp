// The real ring tone player on sound files made for the test with sox and lame. The player
// reports Playing and then Stopped at the end of the file, with or without a sound server.

#include "call/MediaRingTonePlayer.h"
#include "support/EventLoop.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace talvora {
namespace {

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

class MediaRingTonePlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        if (QStandardPaths::findExecutable("sox").isEmpty() ||
            QStandardPaths::findExecutable("lame").isEmpty()) {
            GTEST_SKIP() << "sox and lame make the test tones (scripts/setup.sh installs them)";
        }
        wav = dir.filePath("tone.wav");
        mp3 = dir.filePath("tone.mp3");
        ASSERT_TRUE(run("sox", {"-n", wav, "synth", "1", "sine", "440"}));
        ASSERT_TRUE(run("lame", {"--quiet", wav, mp3}));
    }

    QTemporaryDir dir;
    QString wav;
    QString mp3;
};

TEST_F(MediaRingTonePlayerTest, PlaysOnceToTheEnd) {
    for (const QString& file : {wav, mp3}) {
        SCOPED_TRACE(file.toStdString());
        MediaRingTonePlayer player;
        QList<QMediaPlayer::PlaybackState> states;
        QObject::connect(&player.mediaPlayer(), &QMediaPlayer::playbackStateChanged,
                         [&](QMediaPlayer::PlaybackState s) { states << s; });
        player.close();
        player.open(file);
        player.playFromStart();
        EXPECT_TRUE(test::waitUntil([&] { return states.contains(QMediaPlayer::PlayingState); }, 20000));
        EXPECT_TRUE(test::waitUntil([&] { return !player.isPlaying(); }, 30000));
        EXPECT_EQ(states.last(), QMediaPlayer::StoppedState);
        EXPECT_NE(player.mediaPlayer().error(), QMediaPlayer::FormatError)
            << player.mediaPlayer().errorString().toStdString();
        // Played once: no repeat starts after the end.
        test::pumpEvents(300);
        EXPECT_FALSE(player.isPlaying());
    }
}

TEST_F(MediaRingTonePlayerTest, StopEndsPlayingAndCloseOpenPlayStartsAgain) {
    // A longer tone, so that it is still playing when stopped.
    const QString longWav = dir.filePath("long.wav");
    ASSERT_TRUE(run("sox", {"-n", longWav, "synth", "30", "sine", "440"}));
    MediaRingTonePlayer player;
    player.open(longWav);
    player.playFromStart();
    ASSERT_TRUE(test::waitUntil([&] { return player.isPlaying(); }, 20000));
    player.stop();
    EXPECT_FALSE(player.isPlaying());

    player.close();
    player.open(mp3);
    player.playFromStart();
    EXPECT_TRUE(test::waitUntil([&] { return player.isPlaying(); }, 20000));
    player.stop();
}

TEST_F(MediaRingTonePlayerTest, AFileThatIsNoSoundDoesNotPlay) {
    const QString junk = dir.filePath("junk.mp3");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    MediaRingTonePlayer player;
    bool failed = false;
    QObject::connect(&player.mediaPlayer(), &QMediaPlayer::errorOccurred, [&] { failed = true; });
    player.open(junk);
    player.playFromStart();
    EXPECT_TRUE(test::waitUntil(
        [&] { return failed || player.mediaPlayer().mediaStatus() == QMediaPlayer::InvalidMedia; }, 20000));
    test::pumpEvents(200);
    EXPECT_FALSE(player.isPlaying());
}

} // namespace
} // namespace talvora
