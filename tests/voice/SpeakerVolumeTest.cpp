#include "FakeSpeakerVolume.h"
#include "support/EventLoop.h"
#include "voice/PulseSpeakerVolume.h"
#include "voice/SpeakerVolumeWorker.h"

#include <optional>

#include <gtest/gtest.h>

#include <QByteArray>

#include <pulse/volume.h>

namespace talvora {
namespace {

TEST(SpeakerVolume, PacksLeftLowAndRightHigh) {
    EXPECT_EQ(packSpeakerVolume(0xFFFF, 0xFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(packSpeakerVolume(40000, 20000), 40000u + 20000u * 65536u);
    EXPECT_EQ(packSpeakerVolume(0, 0), 0u);
}

TEST(SpeakerVolume, MapsOntoTheServersScaleAndBack) {
    EXPECT_EQ(speakerToPulseVolume(0), PA_VOLUME_MUTED);
    EXPECT_EQ(speakerToPulseVolume(65535), PA_VOLUME_NORM);
    EXPECT_EQ(pulseToSpeakerVolume(PA_VOLUME_NORM), 65535);
    EXPECT_EQ(pulseToSpeakerVolume(PA_VOLUME_NORM * 3 / 2), 65535) << "above 100 % reads as full";
    EXPECT_EQ(pulseToSpeakerVolume(PA_VOLUME_MUTED), 0);
    for (int v = 0; v <= 65535; v += 7) {
        ASSERT_EQ(pulseToSpeakerVolume(speakerToPulseVolume(static_cast<quint16>(v))), v);
    }
}

TEST(SpeakerVolume, FakeWithoutVolumeControlWritesNothing) {
    FakeSpeakerVolume fake;
    fake.hasVolumeControl = false;
    fake.left = 5;
    EXPECT_FALSE(fake.GetSpeakerVolume().ok);
    EXPECT_FALSE(fake.SetSpeakerVolume(0xFFFFFFFF));
    EXPECT_EQ(fake.writes, 0);
    EXPECT_EQ(fake.left, 5);
    fake.hasVolumeControl = true;
    EXPECT_TRUE(fake.SetSpeakerVolume(packSpeakerVolume(40000, 20000)));
    const auto reading = fake.GetSpeakerVolume();
    EXPECT_TRUE(reading.ok);
    EXPECT_EQ(reading.left, 40000);
    EXPECT_EQ(reading.right, 20000);
}

// A server that hangs holds up neither the window nor the slider: reads answer later on the
// asking thread, and of the positions a drag passed through while it hung, only the last is
// written.
TEST(SpeakerVolumeWorker, TheWindowNeverWaitsAndOnlyTheLatestPositionIsWritten) {
    FakeSpeakerVolume fake;
    fake.left = 1234;
    SpeakerVolumeWorker worker(fake);
    std::optional<SpeakerVolumeReading> read;
    {
        const std::lock_guard hang(fake.server);
        worker.read([&](const SpeakerVolumeReading& r) { read = r; });
        for (quint16 position = 0; position < 1000; ++position) {
            worker.write(packSpeakerVolume(position, position));
        }
        test::pumpEvents(50);
        EXPECT_FALSE(read);
        EXPECT_EQ(fake.writes, 0);
    }
    ASSERT_TRUE(test::waitUntil([&] { return read.has_value() && fake.left == 999; }));
    EXPECT_EQ(read->left, 1234);
    test::pumpEvents(50);
    EXPECT_LE(fake.writes, 2); // the one that may have started before the drag, and the last
}

TEST(SpeakerVolume, NoSoundServerMeansFalse) {
    // A server address where nothing listens: no connection, no write, and no long wait.
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", QByteArray("unix:/nonexistent/talvora/native"));
    {
        PulseSpeakerVolume volume(500);
        EXPECT_FALSE(volume.GetSpeakerVolume().ok);
        EXPECT_FALSE(volume.SetSpeakerVolume(0x80008000u));
    }
    if (saved.isEmpty()) {
        qunsetenv("PULSE_SERVER");
    } else {
        qputenv("PULSE_SERVER", saved);
    }
}

} // namespace
} // namespace talvora
