#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include "capture/CameraJpeg.h"
#include "capture/FakeV4L2Device.h"
#include "capture/V4L2Capture.h"
#include "capture/V4L2FormatEnumeration.h"
#include "convert/BitmapFile.h"
#include "convert/BitmapInfo.h"
#include "support/EventLoop.h"

// The V4L2 back end with the cameras people own: Motion JPEG at the larger sizes (often the
// only format), cameras busy in another program, several cameras.

namespace talvora {
namespace {

using test::FakeV4L2Device;

struct Rig {
    std::shared_ptr<FakeV4L2Device> device = std::make_shared<FakeV4L2Device>();
    std::unique_ptr<V4L2Capture> capture;
    QList<QByteArray> frames;
    QStringList statuses;

    Rig() : capture(std::make_unique<V4L2Capture>(device)) {
        capture->setFrameCallback([this](const uchar* data, qsizetype size) {
            frames.append(QByteArray(reinterpret_cast<const char*>(data), size));
        });
        capture->setStatusCallback(
            [this](CaptureBackend::StatusId, const QString& text) { statuses.append(text); });
    }

    // Connects the first camera of 0..9 that can be set up, as the capture window does.
    int search() {
        for (int index = 0; index <= 9; ++index) {
            if (capture->connectDriver(index))
                return index;
        }
        return -1;
    }
};

FakeV4L2Device::Node mjpegOnlyCamera() {
    FakeV4L2Device::Node node;
    node.card = QStringLiteral("HD Webcam");
    node.formats = {{V4L2_PIX_FMT_MJPEG, {{1280, 720}, {640, 480}, {320, 240}}, {}, {{1, 30}}}};
    return node;
}

// YUYV fluid up to 640x480 only, MJPEG at every size.
FakeV4L2Device::Node usualWebcam() {
    FakeV4L2Device::Node node;
    node.card = QStringLiteral("Usual Webcam");
    node.formats = {{V4L2_PIX_FMT_YUYV, {{1280, 720}, {640, 480}, {352, 288}}, {}, {{1, 10}}},
                    {V4L2_PIX_FMT_MJPEG, {{1920, 1080}, {1280, 720}, {640, 480}, {352, 288}}, {}, {{1, 30}}}};
    return node;
}

TEST(V4L2WebcamTest, MjpegOnlyCameraConnectsWithItsFormatDialog) {
    Rig rig;
    rig.device->addNode(0, mjpegOnlyCamera());
    ASSERT_TRUE(rig.capture->connectDriver(0));
    const BitmapInfoHeader header = readBitmapInfoHeader(rig.capture->videoFormat().constData());
    EXPECT_EQ(header.biCompression, kBiRgb); // decoded into a bitmap
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biWidth, 320);
    EXPECT_TRUE(rig.statuses.contains(QStringLiteral("Video format MJPG 320x240")));
    CaptureDriverCaps caps;
    ASSERT_TRUE(rig.capture->getDriverCaps(caps));
    EXPECT_TRUE(caps.hasFormatDialog);
}

TEST(V4L2WebcamTest, MjpegFramesAreDecodedAndDamagedOnesDroppedWithoutStopping) {
    Rig rig;
    rig.device->addNode(0, mjpegOnlyCamera());
    ASSERT_TRUE(rig.capture->connectDriver(0));
    ASSERT_TRUE(rig.capture->applyFormatChoice({V4L2_PIX_FMT_MJPEG, 640, 480, {1, 30}}));
    ASSERT_TRUE(rig.capture->setPreview(true));
    const QImage picture = test::cameraPicture(640, 480);
    const QByteArray bare = test::jpegWithoutTables(picture);
    struct Delivery {
        const char* name;
        QByteArray bytes;
        quint32 flags;
        bool shown;
    };
    const Delivery deliveries[] = {
        {"without tables", bare, 0, true},
        {"with tables", test::jpegWithTables(picture), 0, true},
        {"truncated", bare.left(bare.size() / 2), 0, false},
        {"error flag", bare, V4L2_BUF_FLAG_ERROR, false},
        {"garbage", QByteArray(3000, '\x55'), 0, false},
        {"another size", test::jpegWithoutTables(test::cameraPicture(320, 240)), 0, false},
        {"after the damage", bare, 0, true},
    };
    int shown = 0;
    for (const Delivery& d : deliveries) {
        SCOPED_TRACE(d.name);
        ASSERT_TRUE(rig.device->deliverFrame(d.bytes, d.flags));
        ASSERT_TRUE(test::waitUntil([&] { return rig.device->idle(); }));
        shown += d.shown ? 1 : 0;
        ASSERT_EQ(rig.frames.size(), shown);
        EXPECT_TRUE(rig.capture->isPreviewing());
    }
    const QByteArray& frame = rig.frames.last();
    ASSERT_EQ(frame.size(), 640 * 3 * 480);
    EXPECT_TRUE(test::closeColour(test::bitmapPixel(frame, 640, 480, 10, 10), qRgb(30, 200, 40)));
    EXPECT_TRUE(test::closeColour(test::bitmapPixel(frame, 640, 480, 630, 470), qRgb(40, 40, 210)));
}

TEST(V4L2WebcamTest, DefaultModeIsNearTheProgramsSizeAndFluidAndRawOnATie) {
    struct Case {
        const char* name;
        int width, height;
        CaptureFormatChoice expected;
    };
    const Case cases[] = {
        {"raw wins the tie", 384, 288, {V4L2_PIX_FMT_YUYV, 352, 288, {1, 10}}},
        {"slow raw size passed over", 1280, 720, {V4L2_PIX_FMT_MJPEG, 1280, 720, {1, 30}}},
        {"largest", 4000, 3000, {V4L2_PIX_FMT_MJPEG, 1920, 1080, {1, 30}}},
    };
    Rig rig;
    FakeV4L2Device::Node node = usualWebcam();
    node.formats[0].intervals = {{1, 30}};
    rig.device->addNode(0, node);
    ASSERT_TRUE(rig.capture->connectDriver(0));
    QList<CaptureFormatOption> options = rig.capture->formatOptions();
    ASSERT_EQ(options.size(), 2);
    EXPECT_EQ(options[0].name, QStringLiteral("YUY2"));
    EXPECT_EQ(options[1].name, QStringLiteral("MJPG (Motion JPEG)"));
    EXPECT_EQ(options[1].sizes.size(), 4);
    // 1280x720 YUYV is there but too slow: only 10 frames a second.
    options[0].sizes[0].intervals = {{1, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureFormatChoice expected = c.expected;
        if (expected.code == V4L2_PIX_FMT_YUYV)
            expected.interval = {1, 30};
        EXPECT_EQ(chooseCaptureMode(options, c.width, c.height), expected);
    }
    // Nothing fluid at all: the nearest size is still taken.
    EXPECT_EQ(chooseCaptureMode({{V4L2_PIX_FMT_YUYV, "YUY2", {{640, 480, {{1, 5}}}}}}, 384, 288),
              (CaptureFormatChoice{V4L2_PIX_FMT_YUYV, 640, 480, {1, 5}}));
    EXPECT_EQ(chooseCaptureMode({}, 384, 288).code, 0u);
}

TEST(V4L2WebcamTest, ProgramsFirstRequestOnAWebcamGetsRawYuyvAndLargeOnesMjpeg) {
    Rig rig;
    rig.device->addNode(0, usualWebcam());
    ASSERT_TRUE(rig.capture->connectDriver(0));
    QByteArray request(40, '\0');
    initBitmapHeader(reinterpret_cast<uchar*>(request.data()), 384, 288, 24);
    ASSERT_TRUE(rig.capture->setVideoFormat(request));
    // 352x288 YUYV runs at 10 frames a second only on this camera: MJPEG at the same size.
    EXPECT_EQ(rig.device->node(0).pix.pixelformat, quint32(V4L2_PIX_FMT_MJPEG));
    EXPECT_EQ(rig.device->node(0).pix.width, 352u);
    // A camera whose YUYV is fluid at that size keeps raw frames.
    Rig fluid;
    FakeV4L2Device::Node node = usualWebcam();
    node.formats[0].intervals = {{1, 30}, {1, 15}};
    fluid.device->addNode(0, node);
    ASSERT_TRUE(fluid.capture->connectDriver(0));
    ASSERT_TRUE(fluid.capture->setVideoFormat(request));
    EXPECT_EQ(fluid.device->node(0).pix.pixelformat, quint32(V4L2_PIX_FMT_YUYV));
    EXPECT_EQ(fluid.device->node(0).pix.width, 352u);
}

TEST(V4L2WebcamTest, BusyCameraIsPassedOverForAFreeOne) {
    Rig rig;
    FakeV4L2Device::Node busy = mjpegOnlyCamera();
    busy.busy = true;
    rig.device->addNode(0, busy);
    rig.device->addNode(1, usualWebcam());
    EXPECT_EQ(rig.search(), 1);
    EXPECT_TRUE(rig.statuses.contains(QStringLiteral("/dev/video0 is busy (used by another program)")));
    EXPECT_TRUE(rig.statuses.contains(QStringLiteral("Connected to Usual Webcam (/dev/video1)")));
    EXPECT_EQ(rig.device->openDescriptors(), 1);
    ASSERT_TRUE(rig.capture->setPreview(true));
    EXPECT_TRUE(rig.device->streaming());
}

TEST(V4L2WebcamTest, CameraBusyOnlyForBuffersIsPassedOverToo) {
    // Some drivers accept a format from anyone and refuse only the buffers.
    Rig rig;
    rig.device->addNode(0, usualWebcam());
    rig.device->addNode(1, usualWebcam());
    auto other = std::make_unique<V4L2Capture>(rig.device);
    ASSERT_TRUE(other->connectDriver(0));
    ASSERT_TRUE(other->setPreview(true));
    // The fake refuses buffers to every other descriptor while one streams: the second camera
    // is reported busy as well, and nothing is left open.
    EXPECT_EQ(rig.search(), -1);
    EXPECT_TRUE(rig.statuses.contains(QStringLiteral("/dev/video0 is busy (used by another program)")));
    EXPECT_EQ(rig.device->openDescriptors(), 1);
    other.reset();
    EXPECT_EQ(rig.search(), 0);
}

TEST(V4L2WebcamTest, CameraWithNothingWeCanShowIsNotConnected) {
    Rig rig;
    FakeV4L2Device::Node node;
    node.card = QStringLiteral("Stream Cam");
    node.formats = {{V4L2_PIX_FMT_H264, {{1920, 1080}}, {}, {{1, 30}}}};
    rig.device->addNode(0, node);
    rig.device->addNode(2, mjpegOnlyCamera());
    EXPECT_EQ(rig.search(), 2);
    EXPECT_TRUE(rig.statuses.contains(
        QStringLiteral("Stream Cam (/dev/video0) offers no video format this program can show")));
    EXPECT_EQ(rig.device->openDescriptors(), 1);
}

} // namespace
} // namespace talvora
