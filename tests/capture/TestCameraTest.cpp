#include <gtest/gtest.h>

#include <cstdlib>

#include "base/Error.h"
#include "capture/ManualFrameTicker.h"
#include "capture/MjpegFrame.h"
#include "capture/TestCamera.h"

namespace talvora {
namespace {

using test::ManualFrameTicker;

TEST(TestCameraOptionTest, ParsesKindsAndSizes) {
    struct Case {
        const char* value;
        TestCameraConfig expected;
    };
    const Case cases[] = {
        {"", {kFourccYUY2, 384, 288}},
        {"rgb", {kBiRgb, 384, 288}},
        {"I420", {kFourccI420, 384, 288}},
        {"y8", {kFourccY8, 384, 288}},
        {"Y211:320x240", {kFourccY211, 320, 240}},
        {"yvu9:1X1", {kFourccYVU9, 1, 1}},
        {"UYVY:4096x4096", {kFourccUYVY, 4096, 4096}},
        {"y41p:17x9", {kFourccY41P, 17, 9}},
        {"MJPG", {kFourccMJPG, 384, 288}},
        {"mjpg:1280x720", {kFourccMJPG, 1280, 720}},
        {"YUY2:384x288:scene", {kFourccYUY2, 384, 288, TestPatternSettings::Scene}},
        {"MJPG:1280x720:Scene", {kFourccMJPG, 1280, 720, TestPatternSettings::Scene}},
        {"rgb:64x48:bars", {kBiRgb, 64, 48, TestPatternSettings::ColourBars}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(parseTestCameraOption(QString::fromLatin1(c.value)), c.expected);
    }
}

TEST(TestCameraOptionTest, RejectsBadValuesWithAClearText) {
    struct Case {
        const char* value;
        const char* text;
    };
    const Case cases[] = {
        {"H264",
         "Unknown test camera format \"H264\": use RGB, YUY2, UYVY, Y41P, YVU9, I420, Y8, Y211 or MJPG."},
        {":320x240",
         "Unknown test camera format \"\": use RGB, YUY2, UYVY, Y41P, YVU9, I420, Y8, Y211 or MJPG."},
        {"YUY2:", "Invalid test camera size \"\": use WIDTHxHEIGHT, for example 384x288."},
        {"YUY2:320", "Invalid test camera size \"320\": use WIDTHxHEIGHT, for example 384x288."},
        {"YUY2:-3x4", "Invalid test camera size \"-3x4\": use WIDTHxHEIGHT, for example 384x288."},
        {"YUY2:320x240:1", "Unknown test camera picture \"1\": use bars or scene."},
        {"YUY2:320x240:", "Unknown test camera picture \"\": use bars or scene."},
        {"YUY2:320x240:scene:x", "Unknown test camera picture \"scene:x\": use bars or scene."},
        {"YUY2::scene", "Invalid test camera size \"\": use WIDTHxHEIGHT, for example 384x288."},
        {"YUY2:0x240", "Test camera size 0x240 is out of range: width and height must be 1 to 4096."},
        {"YUY2:4097x2", "Test camera size 4097x2 is out of range: width and height must be 1 to 4096."},
        {"YUY2:99999999999x2",
         "Invalid test camera size \"99999999999x2\": use WIDTHxHEIGHT, for example 384x288."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        try {
            parseTestCameraOption(QString::fromLatin1(c.value));
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.text(), QString::fromLatin1(c.text));
        }
    }
}

TEST(TestPatternTest, FrameSizesOfEveryKind) {
    struct Case {
        quint32 kind;
        int width, height;
        qsizetype bytes;
        int bits;
    };
    const Case cases[] = {
        {kBiRgb, 384, 288, 384 * 3 * 288, 24},
        {kBiRgb, 5, 3, 16 * 3, 24},
        {kFourccYUY2, 384, 288, 384 * 2 * 288, 16},
        {kFourccUYVY, 7, 2, 28, 16},
        {kFourccY41P, 384, 288, 48 * 12 * 288, 12},
        {kFourccY41P, 9, 2, 48, 12},
        {kFourccYVU9, 384, 288, 384 * 288 + 2 * 96 * 72, 9},
        {kFourccYVU9, 5, 5, 25 + 2 * 4, 9},
        {kFourccI420, 384, 288, 384 * 288 * 3 / 2, 12},
        {kFourccI420, 3, 3, 9 + 2 * 4, 12},
        {kFourccY8, 384, 288, 384 * 288, 8},
        {kFourccY211, 384, 288, 384 * 288, 8},
        {kFourccY211, 5, 2, 16, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testPatternKindName(c.kind).toStdString() + " " + std::to_string(c.width));
        EXPECT_EQ(testPatternFrameSize(c.kind, c.width, c.height), c.bytes);
        const QByteArray block = testPatternFormatBlock(c.kind, c.width, c.height);
        ASSERT_EQ(block.size(), 40);
        const BitmapInfoHeader h = readBitmapInfoHeader(block.constData());
        EXPECT_EQ(h.biCompression, c.kind);
        EXPECT_EQ(h.biWidth, c.width);
        EXPECT_EQ(h.biHeight, c.height);
        EXPECT_EQ(h.biBitCount, c.bits);
        EXPECT_EQ(qsizetype(h.biSizeImage), c.bytes);
    }
    EXPECT_EQ(testPatternFrameSize(fourcc('H', '2', '6', '4'), 8, 8), 0);
    EXPECT_EQ(testPatternFrameSize(kFourccMJPG, 8, 8), 8 * 3 * 8); // delivered decoded
    EXPECT_EQ(testPatternFrameSize(kFourccYUY2, 0, 8), 0);
    EXPECT_EQ(testPatternFrameSize(kFourccYUY2, 8, 4097), 0);
    EXPECT_TRUE(testPatternFormatBlock(kFourccYUY2, -1, 8).isEmpty());
}

TEST(TestPatternTest, ColourBarsComeOutInEachLayout) {
    // Eight bars across 16 pixels: pixels 0-1 white (235), 14-15 black (16), standing still.
    TestPatternSettings still;
    still.moving = false;
    QByteArray scratch;
    const auto render = [&](quint32 kind) {
        QByteArray frame(testPatternFrameSize(kind, 16, 4), '\x7f');
        EXPECT_TRUE(renderTestPattern(kind, 16, 4, 0, still, scratch, reinterpret_cast<uchar*>(frame.data()),
                                      frame.size()));
        return frame;
    };
    const QByteArray rgb = render(kBiRgb);
    EXPECT_EQ(rgb.mid(0, 3), QByteArray(3, char(235)));             // bottom row, white bar
    EXPECT_EQ(rgb.mid(3 * 15, 3), QByteArray(3, char(16)));         // black bar
    EXPECT_EQ(rgb.mid(3 * 10, 3), QByteArray::fromHex("10 10 eb")); // red bar, in B G R order
    const QByteArray yuy2 = render(kFourccYUY2);
    EXPECT_EQ(quint8(yuy2[0]), 218); // Y of the white bar: 16 + 219 * 235/255
    EXPECT_EQ(quint8(yuy2[1]), 128);
    EXPECT_EQ(quint8(yuy2[28]), 30); // Y of the black bar (16 * 0.859 + 16)
    const QByteArray y8 = render(kFourccY8);
    EXPECT_EQ(quint8(y8[0]), 235); // full-range grey: the byte is shown as it is
    EXPECT_EQ(quint8(y8[15]), 16);
    const QByteArray i420 = render(kFourccI420);
    EXPECT_EQ(quint8(i420[0]), 218);
    EXPECT_EQ(quint8(i420[64]), 128); // first U sample of the white bar
    EXPECT_FALSE(
        renderTestPattern(kBiRgb, 16, 4, 0, still, scratch, reinterpret_cast<uchar*>(scratch.data()), 5));
}

TEST(TestPatternTest, PatternMovesAndNoiseChangesIt) {
    TestPatternSettings settings;
    QByteArray scratch;
    QByteArray a(testPatternFrameSize(kFourccY8, 32, 8), '\0');
    QByteArray b = a;
    renderTestPattern(kFourccY8, 32, 8, 0, settings, scratch, reinterpret_cast<uchar*>(a.data()), a.size());
    renderTestPattern(kFourccY8, 32, 8, 1, settings, scratch, reinterpret_cast<uchar*>(b.data()), b.size());
    EXPECT_NE(a, b);
    settings.moving = false;
    renderTestPattern(kFourccY8, 32, 8, 5, settings, scratch, reinterpret_cast<uchar*>(b.data()), b.size());
    EXPECT_EQ(a, b);
    settings.noiseLevel = 100;
    renderTestPattern(kFourccY8, 32, 8, 5, settings, scratch, reinterpret_cast<uchar*>(b.data()), b.size());
    EXPECT_NE(a, b);
}

// The cheap renderer copies frames out of a picture drawn once; every frame must still be the
// one renderTestPattern draws, in every layout, for sizes that do and do not fill whole groups.
TEST(TestPatternRendererTest, FramesMatchTheWholeDrawing) {
    struct Case {
        int pattern;
        int width, height;
        bool moving;
        int brightness;
    };
    const Case cases[] = {
        {TestPatternSettings::ColourBars, 64, 16, true, 0},
        {TestPatternSettings::ColourBars, 37, 9, true, 0},
        {TestPatternSettings::Gradient, 48, 12, true, 20},
        {TestPatternSettings::Gradient, 30, 7, true, 0},
        {TestPatternSettings::Checkerboard, 80, 40, true, 0},
        {TestPatternSettings::Checkerboard, 33, 70, true, -30},
        {TestPatternSettings::ColourBars, 24, 8, false, 10},
        {TestPatternSettings::Checkerboard, 8, 4, false, 0},
        {TestPatternSettings::Scene, 64, 48, true, 0},
        {TestPatternSettings::Scene, 37, 9, true, 15},
        {TestPatternSettings::Scene, 24, 8, false, 0},
    };
    const quint32 kinds[] = {kBiRgb,      kFourccYUY2, kFourccUYVY, kFourccY41P, kFourccYVU9,
                             kFourccI420, kFourccY8,   kFourccY211, kFourccMJPG};
    const quint64 frameNumbers[] = {0, 1, 2, 3, 7, 16, 17, 99999, 100000, 123457};
    for (const Case& c : cases) {
        for (const quint32 kind : kinds) {
            TestPatternSettings settings;
            settings.pattern = c.pattern;
            settings.moving = c.moving;
            settings.brightness = c.brightness;
            TestPatternRenderer renderer;
            QByteArray scratch;
            const qsizetype size = testPatternFrameSize(kind, c.width, c.height);
            for (const quint64 n : frameNumbers) {
                QByteArray expected(size, '\x55');
                // Padding must be written, not left over; the Motion JPEG decoder, which both
                // take alike, leaves it as it was.
                QByteArray actual(size, kind == kFourccMJPG ? '\x55' : '\x66');
                ASSERT_TRUE(renderTestPattern(kind, c.width, c.height, n, settings, scratch,
                                              reinterpret_cast<uchar*>(expected.data()), size));
                ASSERT_TRUE(renderer.render(kind, c.width, c.height, n, settings,
                                            reinterpret_cast<uchar*>(actual.data()), size));
                ASSERT_EQ(actual, expected)
                    << testPatternKindName(kind).toStdString() << " pattern " << c.pattern << " " << c.width
                    << "x" << c.height << " frame " << n;
            }
        }
    }
}

TEST(TestPatternRendererTest, FollowsChangedSettingsAndNoise) {
    TestPatternRenderer renderer;
    TestPatternSettings settings;
    QByteArray scratch;
    const qsizetype size = testPatternFrameSize(kFourccYUY2, 32, 8);
    QByteArray expected(size, '\0');
    QByteArray actual(size, '\0');
    const auto check = [&](quint64 n, int width) {
        const qsizetype bytes = testPatternFrameSize(kFourccYUY2, width, 8);
        expected.resize(bytes);
        actual.resize(bytes);
        renderTestPattern(kFourccYUY2, width, 8, n, settings, scratch,
                          reinterpret_cast<uchar*>(expected.data()), bytes);
        EXPECT_TRUE(renderer.render(kFourccYUY2, width, 8, n, settings,
                                    reinterpret_cast<uchar*>(actual.data()), bytes));
        EXPECT_EQ(actual, expected);
    };
    check(1, 32);
    settings.brightness = 40; // drawn again, not taken from the earlier picture
    check(2, 32);
    settings.pattern = TestPatternSettings::Gradient;
    check(3, 32);
    check(3, 40); // another size
    settings.noiseLevel = 50;
    check(4, 40);
    check(5, 40);
    EXPECT_FALSE(
        renderer.render(kFourccYUY2, 40, 8, 0, settings, reinterpret_cast<uchar*>(actual.data()), 5));
}

struct CameraRig {
    ManualFrameTicker* ticker = nullptr;
    std::unique_ptr<TestCamera> camera;
    QList<QByteArray> frames;
    QStringList statuses;

    explicit CameraRig(TestCameraConfig config = {}) {
        auto owned = std::make_unique<ManualFrameTicker>();
        ticker = owned.get();
        camera = std::make_unique<TestCamera>(config, std::move(owned));
        camera->setFrameCallback([this](const uchar* data, qsizetype size) {
            frames.append(QByteArray(reinterpret_cast<const char*>(data), size));
        });
        camera->setStatusCallback(
            [this](CaptureBackend::StatusId, const QString& text) { statuses.append(text); });
    }
};

TEST(TestCameraTest, OnlyDriverZeroExists) {
    CameraRig rig;
    for (int index = 1; index <= 9; ++index)
        EXPECT_FALSE(rig.camera->connectDriver(index));
    EXPECT_TRUE(rig.camera->connectDriver(0));
    EXPECT_EQ(rig.statuses, QStringList({"Connected to the test camera", "Video format YUY2 384x288"}));
}

TEST(TestCameraTest, EveryKindDeliversFramesOfItsSize) {
    const quint32 kinds[] = {kBiRgb,      kFourccYUY2, kFourccUYVY, kFourccY41P,
                             kFourccYVU9, kFourccI420, kFourccY8,   kFourccY211};
    for (quint32 kind : kinds) {
        SCOPED_TRACE(testPatternKindName(kind).toStdString());
        CameraRig rig({kind, 33, 17});
        ASSERT_TRUE(rig.camera->connectDriver(0));
        const QByteArray block = rig.camera->videoFormat();
        ASSERT_EQ(block, testPatternFormatBlock(kind, 33, 17));
        rig.ticker->tick(); // not previewing yet
        EXPECT_TRUE(rig.frames.isEmpty());
        rig.camera->setPreviewRate(33);
        ASSERT_TRUE(rig.camera->setPreview(true));
        EXPECT_EQ(rig.ticker->intervalMsSeen, 33);
        rig.ticker->tick();
        rig.ticker->tick();
        ASSERT_EQ(rig.frames.size(), 2);
        EXPECT_EQ(rig.frames[0].size(), qsizetype(readBitmapInfoHeader(block.constData()).biSizeImage));
        EXPECT_NE(rig.frames[0], rig.frames[1]); // it moves
    }
}

TEST(TestCameraTest, KeepsItsFormatWhenTheProgramAsksForAnother) {
    CameraRig rig({kFourccI420, 640, 480});
    ASSERT_TRUE(rig.camera->connectDriver(0));
    const QByteArray mine = rig.camera->videoFormat();
    QByteArray request = testPatternFormatBlock(kBiRgb, 384, 288);
    EXPECT_FALSE(rig.camera->setVideoFormat(request));
    EXPECT_EQ(rig.camera->videoFormat(), mine);
    EXPECT_TRUE(rig.camera->setVideoFormat(mine));
}

TEST(TestCameraTest, FormatChoiceChangesKindAndSizeOfTheNextFrame) {
    CameraRig rig;
    ASSERT_TRUE(rig.camera->connectDriver(0));
    ASSERT_TRUE(rig.camera->setPreview(true));
    const QList<CaptureFormatOption> options = rig.camera->formatOptions();
    ASSERT_EQ(options.size(), 9);
    EXPECT_EQ(options[6].name, QStringLiteral("Y8"));
    EXPECT_EQ(options[8].name, QStringLiteral("MJPG"));
    EXPECT_TRUE(rig.camera->applyFormatChoice({kFourccY211, 160, 120, {1, 30}}));
    EXPECT_EQ(rig.statuses.last(), QStringLiteral("Video format Y211 160x120"));
    rig.ticker->tick();
    ASSERT_EQ(rig.frames.size(), 1);
    EXPECT_EQ(rig.frames[0].size(), 160 * 120);
    EXPECT_EQ(rig.camera->videoFormat(), testPatternFormatBlock(kFourccY211, 160, 120));
    EXPECT_FALSE(rig.camera->applyFormatChoice({fourcc('H', '2', '6', '4'), 160, 120, {1, 30}}));
    EXPECT_FALSE(rig.camera->applyFormatChoice({kFourccY8, 0, 120, {1, 30}}));
}

TEST(TestCameraTest, ControlsChangeThePicture) {
    CameraRig rig({kFourccY8, 16, 4});
    ASSERT_TRUE(rig.camera->connectDriver(0));
    ASSERT_TRUE(rig.camera->setPreview(true));
    const QList<CaptureControl> controls = rig.camera->controls();
    ASSERT_EQ(controls.size(), 4);
    EXPECT_EQ(controls[0].menu.size(), 4);
    EXPECT_EQ(controls[0].menu.last().name, QStringLiteral("Scene"));
    EXPECT_TRUE(rig.camera->setControl(quint32(TestCamera::ControlId::Moving), 0));
    rig.ticker->tick();
    EXPECT_TRUE(rig.camera->setControl(quint32(TestCamera::ControlId::Brightness), 20));
    rig.ticker->tick();
    ASSERT_EQ(rig.frames.size(), 2);
    EXPECT_EQ(quint8(rig.frames[1][0]), quint8(rig.frames[0][0]) + 20);
    EXPECT_FALSE(rig.camera->setControl(quint32(TestCamera::ControlId::Brightness), 65));
    EXPECT_FALSE(rig.camera->setControl(99, 0));
    EXPECT_EQ(rig.camera->controls()[1].value, 20);
    CaptureDriverCaps caps;
    ASSERT_TRUE(rig.camera->getDriverCaps(caps));
    EXPECT_TRUE(caps.hasSourceDialog);
    EXPECT_TRUE(caps.hasFormatDialog);
}

TEST(TestCameraTest, NestedTicksDrawIntoTheirOwnFrames) {
    CameraRig rig({kFourccY8, 16, 4});
    ASSERT_TRUE(rig.camera->connectDriver(0));
    ASSERT_TRUE(rig.camera->setPreview(true));
    int depth = 0;
    int calls = 0;
    rig.camera->setFrameCallback([&](const uchar* data, qsizetype size) {
        ++calls;
        const QByteArray mine(reinterpret_cast<const char*>(data), size);
        if (depth++ < 5)
            rig.ticker->tick(); // a nested event loop lets the timer fire again
        --depth;
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(data), size), mine);
    });
    rig.ticker->tick();
    EXPECT_EQ(calls, 3); // three levels deep, further ticks are dropped
    rig.camera->disconnectDriver();
    EXPECT_FALSE(rig.ticker->isActive());
}

TEST(TestCameraMjpegTest, FramesTakeTheWebcamsWayAndArriveDecoded) {
    // A picture of the pattern through encode (without Huffman tables) and decode matches the
    // same pattern drawn as RGB, within the losses of JPEG.
    const int width = 160;
    const int height = 120;
    TestPatternSettings settings;
    settings.pattern = TestPatternSettings::Checkerboard;
    const qsizetype size = testPatternFrameSize(kFourccMJPG, width, height);
    ASSERT_EQ(size, testPatternFrameSize(kBiRgb, width, height));
    const QByteArray block = testPatternFormatBlock(kFourccMJPG, width, height);
    EXPECT_EQ(readBitmapInfoHeader(block.constData()).biCompression, kBiRgb);
    EXPECT_EQ(readBitmapInfoHeader(block.constData()).biBitCount, 24);
    QByteArray scratch;
    QByteArray mjpeg(size, '\0');
    QByteArray rgb(size, '\0');
    ASSERT_TRUE(renderTestPattern(kFourccMJPG, width, height, 3, settings, scratch,
                                  reinterpret_cast<uchar*>(mjpeg.data()), size));
    ASSERT_TRUE(renderTestPattern(kBiRgb, width, height, 3, settings, scratch,
                                  reinterpret_cast<uchar*>(rgb.data()), size));
    qint64 totalError = 0;
    for (qsizetype i = 0; i < size; ++i)
        totalError += std::abs(int(uchar(mjpeg[i])) - int(uchar(rgb[i])));
    EXPECT_LT(totalError / size, 12);
}

// The scene: a person who moves over a still room, and grain that changes every frame; all of
// it repeats after one cycle, which is what lets the renderer keep the cycle's frames.
TEST(TestPatternSceneTest, MovesAndTwinklesAndRepeatsEachCycle) {
    constexpr int kWidth = 96, kHeight = 72;
    TestPatternScene scene;
    const auto frame = [&](quint64 n, bool moving) {
        QByteArray rgb(kWidth * kHeight * 3, '\0');
        scene.draw(kWidth, kHeight, n, moving, reinterpret_cast<uchar*>(rgb.data()));
        return rgb;
    };
    // Mean difference per byte, and the share of bytes that differ by more than the grain.
    const auto compare = [](const QByteArray& a, const QByteArray& b) {
        qint64 sum = 0, moved = 0;
        for (qsizetype i = 0; i < a.size(); ++i) {
            const int d = std::abs(int(uchar(a[i])) - int(uchar(b[i])));
            sum += d;
            moved += d > 2;
        }
        return std::pair<double, double>(double(sum) / double(a.size()), double(moved) / double(a.size()));
    };
    const QByteArray first = frame(0, true);
    EXPECT_EQ(frame(TestPatternScene::kCycleFrames, true), first);
    EXPECT_EQ(frame(3 * TestPatternScene::kCycleFrames, true), first);
    const auto [grain, stillMoved] = compare(frame(0, false), frame(1, false));
    EXPECT_GT(grain, 0.05) << "the grain changes every frame";
    EXPECT_EQ(stillMoved, 0) << "and nothing else does while the person stands still";
    const auto [change, moved] = compare(first, frame(TestPatternScene::kCycleFrames / 4, true));
    EXPECT_GT(moved, 0.05) << "a quarter cycle on, the person stands elsewhere";
    EXPECT_GT(change, grain);
}

TEST(TestCameraTest, TheOptionsPictureIsTheFirstShown) {
    CameraRig rig({kFourccYUY2, 64, 48, TestPatternSettings::Scene});
    ASSERT_TRUE(rig.camera->connectDriver(0));
    EXPECT_EQ(rig.camera->controls()[0].value, TestPatternSettings::Scene);
    ASSERT_TRUE(rig.camera->applyFormatChoice({kFourccI420, 32, 24, {1, 30}}));
    EXPECT_EQ(rig.camera->config().pattern, TestPatternSettings::Scene) << "another format keeps the picture";
}

TEST(TestCameraMjpegTest, WideFramesArriveAtHalfSizeAndEverySizeIsOffered) {
    CameraRig rig({kFourccMJPG, 1280, 720});
    ASSERT_TRUE(rig.camera->connectDriver(0));
    const BitmapInfoHeader header = readBitmapInfoHeader(rig.camera->videoFormat().constData());
    EXPECT_EQ(header.biWidth, 640);
    EXPECT_EQ(header.biHeight, 360);
    EXPECT_EQ(rig.statuses.last(), QStringLiteral("Video format MJPG 1280x720"));
    ASSERT_TRUE(rig.camera->setPreview(true));
    rig.ticker->tick();
    ASSERT_EQ(rig.frames.size(), 1);
    EXPECT_EQ(rig.frames[0].size(), 640 * 3 * 360);
    bool offered = false;
    for (const CaptureFormatOption& option : rig.camera->formatOptions()) {
        for (const auto& size : option.sizes)
            offered = offered || (option.code == kFourccMJPG && size.width == 1280 && size.height == 720);
    }
    EXPECT_TRUE(offered) << "the format dialog still offers 1280 x 720";
}

TEST(TestCameraMjpegTest, EncodedFramesLackHuffmanTables) {
    QByteArray rgb(64 * 48 * 3, '\x50');
    const QByteArray jpeg = encodeMjpegFrame(reinterpret_cast<const uchar*>(rgb.constData()), 64, 48, 80);
    ASSERT_FALSE(jpeg.isEmpty());
    EXPECT_TRUE(jpeg.startsWith(QByteArray("\xFF\xD8", 2)));
    EXPECT_FALSE(jpeg.contains(QByteArray("\xFF\xC4", 2)));
    EXPECT_TRUE(encodeMjpegFrame(nullptr, 64, 48, 80).isEmpty());
}

} // namespace
} // namespace talvora
