#include <gtest/gtest.h>

#include <QSocketNotifier>

#include <linux/videodev2.h>

#include "capture/FakeV4L2Device.h"
#include "capture/V4L2Capture.h"
#include "support/EventLoop.h"

namespace talvora {
namespace {

using test::FakeV4L2Device;

// A back end over the fake kernel with its frames and status texts recorded.
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

    static FakeV4L2Device::Node webcam() {
        FakeV4L2Device::Node node;
        node.card = QStringLiteral("Acme Webcam");
        node.formats = {
            {V4L2_PIX_FMT_MJPEG, {{1280, 720}, {640, 480}, {352, 288}}, {}, {{1, 30}}},
            {V4L2_PIX_FMT_YUYV, {{640, 480}, {352, 288}, {320, 240}}, {}, {{1, 30}, {1, 15}}},
        };
        return node;
    }

    bool startWith(quint32 pixelFormat, int width, int height) {
        FakeV4L2Device::Node node;
        node.formats = {{pixelFormat, {{width, height}}, {}, {{1, 30}}}};
        device->addNode(0, node);
        return capture->connectDriver(0) && capture->setPreview(true);
    }

    bool waitFrames(int count) {
        return test::waitUntil([&] { return frames.size() >= count; });
    }
};

QByteArray pattern(int size, int seed = 1) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed) & 0xFF);
    return bytes;
}

TEST(V4L2CaptureTest, OnlyStreamingCaptureNodesConnect) {
    Rig rig;
    rig.device->addNode(0, FakeV4L2Device::metadataNode());
    rig.device->addNode(1, Rig::webcam());
    EXPECT_FALSE(rig.capture->connectDriver(0));
    EXPECT_FALSE(rig.capture->isConnected());
    EXPECT_EQ(rig.device->openDescriptors(), 0);  // the metadata node was closed again
    EXPECT_FALSE(rig.capture->connectDriver(2));  // no such node
    EXPECT_FALSE(rig.capture->connectDriver(10)); // outside 0..9
    EXPECT_TRUE(rig.capture->connectDriver(1));
    EXPECT_EQ(rig.device->openDescriptors(), 1);
    EXPECT_TRUE(rig.statuses.contains(QStringLiteral("Connected to Acme Webcam (/dev/video1)")));
}

TEST(V4L2CaptureTest, OpenFailuresOtherThanAMissingNodeAreReported) {
    Rig rig;
    FakeV4L2Device::Node node = Rig::webcam();
    node.openErrno = EACCES;
    rig.device->addNode(0, node);
    EXPECT_FALSE(rig.capture->connectDriver(0));
    ASSERT_EQ(rig.statuses.size(), 1);
    EXPECT_TRUE(rig.statuses[0].startsWith(QStringLiteral("Cannot open /dev/video0: ")));
}

TEST(V4L2CaptureTest, NothingConnectedMeansNoFormatNoCapsNoSettings) {
    Rig rig;
    CaptureSettings parms;
    CaptureDriverCaps caps;
    EXPECT_TRUE(rig.capture->videoFormat().isEmpty());
    EXPECT_FALSE(rig.capture->getSequenceSetup(parms));
    EXPECT_FALSE(rig.capture->setSequenceSetup(parms));
    EXPECT_FALSE(rig.capture->getDriverCaps(caps));
    EXPECT_FALSE(rig.capture->setPreview(true));
    EXPECT_FALSE(rig.capture->setVideoFormat(QByteArray(40, '\0')));
    EXPECT_TRUE(rig.capture->controls().isEmpty());
}

TEST(V4L2CaptureTest, RgbRequestOnAWebcamChoosesYuyvAtTheNearestSize) {
    Rig rig;
    rig.device->addNode(0, Rig::webcam());
    ASSERT_TRUE(rig.capture->connectDriver(0));
    rig.device->clearCalls();

    BitmapInfoHeader request;
    request.biWidth = 384;
    request.biHeight = 288;
    request.biBitCount = 24;
    request.biSizeImage = 384 * 3 * 288;
    QByteArray block(40, '\0');
    writeBitmapInfoHeader(block.data(), request);
    ASSERT_TRUE(rig.capture->setVideoFormat(block));

    const auto setFormats = rig.device->callsOf(VIDIOC_S_FMT);
    ASSERT_EQ(setFormats.size(), 1);
    EXPECT_EQ(setFormats[0].pixelFormat, quint32(V4L2_PIX_FMT_YUYV));
    EXPECT_EQ(setFormats[0].width, 352u);
    EXPECT_EQ(setFormats[0].height, 288u);
    const auto rates = rig.device->callsOf(VIDIOC_S_PARM);
    ASSERT_EQ(rates.size(), 1);
    EXPECT_EQ(rates[0].interval.numerator, 1u);
    EXPECT_EQ(rates[0].interval.denominator, 30u);

    const QByteArray format = rig.capture->videoFormat();
    ASSERT_EQ(format.size(), 40);
    EXPECT_EQ(format.mid(16, 4), QByteArray("YUY2"));
    const BitmapInfoHeader h = readBitmapInfoHeader(format.constData());
    EXPECT_EQ(h.biWidth, 352);
    EXPECT_EQ(h.biHeight, 288);
    EXPECT_EQ(h.biSizeImage, 352u * 2 * 288);
    EXPECT_EQ(rig.statuses.last(), QStringLiteral("Video format YUY2 352x288"));
}

TEST(V4L2CaptureTest, MalformedFormatRequestsAreRefused) {
    Rig rig;
    rig.device->addNode(0, Rig::webcam());
    ASSERT_TRUE(rig.capture->connectDriver(0));
    rig.device->clearCalls();
    BitmapInfoHeader h;
    h.biWidth = 384;
    h.biHeight = 288;
    QByteArray block(40, '\0');
    writeBitmapInfoHeader(block.data(), h);
    EXPECT_FALSE(rig.capture->setVideoFormat(block.left(39)));
    h.biWidth = -5;
    writeBitmapInfoHeader(block.data(), h);
    EXPECT_FALSE(rig.capture->setVideoFormat(block));
    h.biWidth = 1 << 20;
    writeBitmapInfoHeader(block.data(), h);
    EXPECT_FALSE(rig.capture->setVideoFormat(block));
    EXPECT_TRUE(rig.device->callsOf(VIDIOC_S_FMT).isEmpty());
}

TEST(V4L2CaptureTest, ConnectPicksAConvertibleFormatAndReportsTheDriverRate) {
    Rig rig;
    FakeV4L2Device::Node node = Rig::webcam(); // the driver starts in MJPEG
    node.timePerFrameValue = {1, 15};
    rig.device->addNode(0, node);
    ASSERT_TRUE(rig.capture->connectDriver(0));
    EXPECT_EQ(rig.capture->videoFormat().mid(16, 4), QByteArray("YUY2"));
    CaptureSettings parms;
    ASSERT_TRUE(rig.capture->getSequenceSetup(parms));
    EXPECT_EQ(parms.microSecPerFrame, 66666u);
}

TEST(V4L2CaptureTest, FramesArriveThroughTheDescriptorAndBuffersCirculate) {
    Rig rig;
    ASSERT_TRUE(rig.startWith(V4L2_PIX_FMT_YUYV, 8, 4));
    EXPECT_GE(rig.device->bufferCount(), int(V4L2Stream::kMinBuffers));
    EXPECT_EQ(rig.device->mappedBuffers(), rig.device->bufferCount());
    EXPECT_EQ(rig.device->queuedBuffers(), rig.device->bufferCount());
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(rig.device->deliverFrame(pattern(64, i), 0, quint64(i + 1) * 33334));
        ASSERT_TRUE(rig.waitFrames(i + 1));
    }
    EXPECT_EQ(rig.frames[9], pattern(64, 9)); // tight YUYV is handed over as captured
    EXPECT_TRUE(rig.device->idle());
}

TEST(V4L2CaptureTest, ErrorFlaggedBuffersAreSkippedAndRequeued) {
    Rig rig;
    ASSERT_TRUE(rig.startWith(V4L2_PIX_FMT_GREY, 4, 4));
    const int buffers = rig.device->bufferCount();
    for (int i = 0; i < buffers; ++i)
        ASSERT_TRUE(rig.device->deliverFrame(pattern(16, i), V4L2_BUF_FLAG_ERROR));
    ASSERT_TRUE(test::waitUntil([&] { return rig.device->idle(); }));
    EXPECT_EQ(rig.device->callsOf(VIDIOC_QBUF).size(), 2 * buffers);
    EXPECT_TRUE(rig.frames.isEmpty());
    ASSERT_TRUE(rig.device->deliverFrame(pattern(16, 42)));
    ASSERT_TRUE(rig.waitFrames(1));
    EXPECT_EQ(rig.frames[0], pattern(16, 42));
}

TEST(V4L2CaptureTest, ShortFramesAreSkipped) {
    Rig rig;
    ASSERT_TRUE(rig.startWith(V4L2_PIX_FMT_YUYV, 8, 4));
    ASSERT_TRUE(rig.device->deliverFrame(pattern(63)));
    ASSERT_TRUE(rig.device->deliverFrame(pattern(64, 3)));
    ASSERT_TRUE(rig.waitFrames(1));
    test::pumpEvents(20);
    ASSERT_EQ(rig.frames.size(), 1);
    EXPECT_EQ(rig.frames[0], pattern(64, 3));
}

TEST(V4L2CaptureTest, ABufferIndexTheDriverMadeUpIsRejected) {
    Rig rig;
    ASSERT_TRUE(rig.startWith(V4L2_PIX_FMT_GREY, 4, 4));
    rig.device->deliverBogusIndex(77);
    ASSERT_TRUE(test::waitUntil(
        [&] { return !rig.statuses.isEmpty() && rig.statuses.last().contains("invalid buffer"); }));
    EXPECT_EQ(rig.statuses.last(), QStringLiteral("The video driver returned an invalid buffer (77)"));
    EXPECT_TRUE(rig.frames.isEmpty());
    // The stream goes on.
    ASSERT_TRUE(rig.device->deliverFrame(pattern(16, 5)));
    ASSERT_TRUE(rig.waitFrames(1));
    EXPECT_TRUE(rig.capture->isPreviewing());
}

TEST(V4L2CaptureTest, UnpluggedCameraStopsThePreviewWithAStatusText) {
    Rig rig;
    ASSERT_TRUE(rig.startWith(V4L2_PIX_FMT_GREY, 4, 4));
    ASSERT_TRUE(rig.device->deliverFrame(pattern(16)));
    ASSERT_TRUE(rig.waitFrames(1));
    rig.device->unplug(0);
    ASSERT_TRUE(test::waitUntil([&] { return !rig.capture->isPreviewing(); }));
    EXPECT_EQ(rig.statuses.last(), QStringLiteral("The camera Fake Camera was disconnected"));
    EXPECT_FALSE(rig.capture->isConnected());
    EXPECT_TRUE(rig.capture->videoFormat().isEmpty());
    EXPECT_EQ(rig.device->openDescriptors(), 0);
    EXPECT_EQ(rig.device->mappedBuffers(), 0);
    test::pumpEvents(20); // the notifier is gone: nothing more fires
    EXPECT_EQ(rig.frames.size(), 1);
}

TEST(V4L2CaptureTest, TooFewBuffersFailWithAStatusText) {
    Rig rig;
    FakeV4L2Device::Node node = Rig::webcam();
    node.grantedBuffers = 2;
    rig.device->addNode(0, node);
    ASSERT_TRUE(rig.capture->connectDriver(0));
    EXPECT_FALSE(rig.capture->setPreview(true));
    EXPECT_FALSE(rig.capture->isPreviewing());
    EXPECT_EQ(rig.statuses.last(),
              QStringLiteral("Cannot start video capture: the driver granted 2 buffers"));
    EXPECT_EQ(rig.device->bufferCount(), 0);
}

TEST(V4L2CaptureTest, RgbFramesOfEveryRgbFormatArriveBottomUp) {
    struct Case {
        quint32 pixelFormat;
        int bytesPerPixel;
    };
    const Case cases[] = {{V4L2_PIX_FMT_RGB24, 3},
                          {V4L2_PIX_FMT_BGR24, 3},
                          {V4L2_PIX_FMT_XBGR32, 4},
                          {V4L2_PIX_FMT_RGB565, 2},
                          {V4L2_PIX_FMT_RGB555, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pixelFormat);
        Rig rig;
        ASSERT_TRUE(rig.startWith(c.pixelFormat, 3, 2));
        const int row = 3 * c.bytesPerPixel;
        QByteArray top(row, '\x11'), bottom(row, '\x22');
        ASSERT_TRUE(rig.device->deliverFrame(top + bottom));
        ASSERT_TRUE(rig.waitFrames(1));
        const int stride = (row + 3) / 4 * 4;
        ASSERT_EQ(rig.frames[0].size(), stride * 2);
        // The driver's last row is the bitmap's first, and each row is padded to whole words.
        EXPECT_EQ(rig.frames[0].at(0), '\x22');
        EXPECT_EQ(rig.frames[0].at(stride), '\x11');
        EXPECT_EQ(rig.frames[0].mid(row, stride - row), QByteArray(stride - row, '\0'));
    }
}

TEST(V4L2CaptureTest, PaddedDriverRowsArePackedForTheConverters) {
    Rig rig;
    FakeV4L2Device::Node node;
    node.formats = {{V4L2_PIX_FMT_YUYV, {{4, 2}}, {}, {{1, 30}}}};
    node.extraBytesPerLine = 8;
    rig.device->addNode(0, node);
    ASSERT_TRUE(rig.capture->connectDriver(0));
    ASSERT_TRUE(rig.capture->setPreview(true));
    const QByteArray frame =
        QByteArray("ABCDEFGH") + QByteArray(8, '-') + QByteArray("IJKLMNOP") + QByteArray(8, '-');
    ASSERT_TRUE(rig.device->deliverFrame(frame));
    ASSERT_TRUE(rig.waitFrames(1));
    EXPECT_EQ(rig.frames[0], QByteArray("ABCDEFGHIJKLMNOP"));
}

TEST(V4L2CaptureTest, FramesFasterThanThePreviewRateAreThinned) {
    Rig rig;
    ASSERT_TRUE(rig.startWith(V4L2_PIX_FMT_GREY, 4, 4));
    // 60 frames a second from a driver that ignored the request: every other one is shown.
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(rig.device->deliverFrame(pattern(16, i), 0, 1000000 + quint64(i) * 16667));
        ASSERT_TRUE(test::waitUntil([&] { return rig.device->idle(); }));
    }
    ASSERT_EQ(rig.frames.size(), 3);
    EXPECT_EQ(rig.frames[1], pattern(16, 2));
}

TEST(V4L2CaptureTest, AHandlerThatDisconnectsInsideItsFrameIsSafe) {
    Rig rig;
    ASSERT_TRUE(rig.startWith(V4L2_PIX_FMT_GREY, 4, 4));
    int calls = 0;
    rig.capture->setFrameCallback([&](const uchar*, qsizetype) {
        ++calls;
        rig.capture->disconnectDriver();
    });
    ASSERT_TRUE(rig.device->deliverFrame(pattern(16)));
    ASSERT_TRUE(test::waitUntil([&] { return calls == 1; }));
    EXPECT_FALSE(rig.capture->isConnected());
    EXPECT_EQ(rig.device->openDescriptors(), 0);
    test::pumpEvents(20);
    EXPECT_EQ(calls, 1);
}

TEST(V4L2CaptureTest, FramesKeepComingWhileAHandlerRunsANestedEventLoop) {
    Rig rig;
    ASSERT_TRUE(rig.startWith(V4L2_PIX_FMT_GREY, 4, 4));
    QList<QByteArray> seen;
    bool nested = false;
    rig.capture->setFrameCallback([&](const uchar* data, qsizetype size) {
        const QByteArray mine(reinterpret_cast<const char*>(data), size);
        seen.append(mine);
        if (!nested) {
            nested = true;
            rig.device->deliverFrame(pattern(16, 2));
            test::waitUntil([&] { return seen.size() == 2; });
            // Our own frame was not overwritten by the nested one.
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(data), size), mine);
        }
    });
    ASSERT_TRUE(rig.device->deliverFrame(pattern(16, 1)));
    ASSERT_TRUE(test::waitUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[1], pattern(16, 2));
    ASSERT_TRUE(test::waitUntil([&] { return rig.device->idle(); }));
}

TEST(V4L2CaptureTest, FormatChangeWhileStreamingRestartsTheStream) {
    Rig rig;
    rig.device->addNode(0, Rig::webcam());
    ASSERT_TRUE(rig.capture->connectDriver(0));
    ASSERT_TRUE(rig.capture->setPreview(true));
    ASSERT_TRUE(rig.capture->applyFormatChoice({V4L2_PIX_FMT_YUYV, 320, 240, {1, 15}}));
    EXPECT_TRUE(rig.capture->isPreviewing());
    EXPECT_TRUE(rig.device->streaming());
    EXPECT_EQ(rig.device->node(0).pix.width, 320u);
    EXPECT_EQ(rig.device->node(0).timePerFrameValue.denominator, 15u);
    ASSERT_TRUE(rig.device->deliverFrame(pattern(320 * 240 * 2)));
    ASSERT_TRUE(rig.waitFrames(1));
    EXPECT_EQ(rig.frames[0].size(), 320 * 240 * 2);
    EXPECT_FALSE(rig.capture->applyFormatChoice({V4L2_PIX_FMT_H264, 640, 480, {1, 30}}));
}

TEST(V4L2CaptureTest, FormatOptionsListConvertibleFormatsWithSizesAndRates) {
    Rig rig;
    FakeV4L2Device::Node node = Rig::webcam();
    v4l2_frmsize_stepwise range{};
    range.min_width = 160;
    range.max_width = 640;
    range.step_width = 16;
    range.min_height = 120;
    range.max_height = 480;
    range.step_height = 8;
    node.formats.append({V4L2_PIX_FMT_RGB24, {}, range, {{1, 25}}});
    rig.device->addNode(0, node);
    ASSERT_TRUE(rig.capture->connectDriver(0));
    const QList<CaptureFormatOption> options = rig.capture->formatOptions();
    ASSERT_EQ(options.size(), 3); // in the driver's order
    EXPECT_EQ(options[0].name, QStringLiteral("MJPG (Motion JPEG)"));
    EXPECT_EQ(options[0].sizes.size(), 3);
    EXPECT_EQ(options[0].sizes[0].width, 1280);
    EXPECT_EQ(options[1].name, QStringLiteral("YUY2"));
    ASSERT_EQ(options[1].sizes.size(), 3);
    EXPECT_EQ(options[1].sizes[1].width, 352);
    EXPECT_EQ(options[1].sizes[0].intervals.size(), 2);
    EXPECT_EQ(options[1].sizes[0].intervals[1], (FrameInterval{1, 15}));
    EXPECT_EQ(options[2].name, QStringLiteral("RGB 24"));
    QStringList sizes;
    for (const CaptureFrameSize& s : options[2].sizes)
        sizes << QStringLiteral("%1x%2").arg(s.width).arg(s.height);
    EXPECT_EQ(sizes,
              QStringList({"160x120", "176x144", "320x240", "352x288", "384x288", "640x360", "640x480"}));
}

FakeV4L2Device::Node cameraWithControls() {
    FakeV4L2Device::Node node = Rig::webcam();
    node.controls.append(FakeV4L2Device::integerControl(V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 0));
    FakeV4L2Device::Control disabled = FakeV4L2Device::integerControl(V4L2_CID_HUE, "Hue", 0, 10, 5);
    disabled.query.flags = V4L2_CTRL_FLAG_DISABLED;
    node.controls.append(disabled);
    FakeV4L2Device::Control menu;
    menu.query.id = V4L2_CID_POWER_LINE_FREQUENCY;
    menu.query.type = V4L2_CTRL_TYPE_MENU;
    std::strcpy(reinterpret_cast<char*>(menu.query.name), "Power Line Frequency");
    menu.query.minimum = 0;
    menu.query.maximum = 3;
    menu.query.default_value = 1;
    menu.menu = {{0, "Disabled"}, {1, "50 Hz"}, {3, "Auto"}}; // index 2 is a gap
    menu.value = 3;
    node.controls.append(menu);
    FakeV4L2Device::Control automatic;
    automatic.query.id = V4L2_CID_AUTO_WHITE_BALANCE;
    automatic.query.type = V4L2_CTRL_TYPE_BOOLEAN;
    std::strcpy(reinterpret_cast<char*>(automatic.query.name), "White Balance, Automatic");
    automatic.query.maximum = 1;
    automatic.query.step = 1;
    automatic.value = 1;
    node.controls.append(automatic);
    FakeV4L2Device::Control classHeader;
    classHeader.query.id = V4L2_CID_USER_CLASS;
    classHeader.query.type = V4L2_CTRL_TYPE_CTRL_CLASS;
    node.controls.append(classHeader);
    return node;
}

TEST(V4L2CaptureTest, ControlsAreEnumeratedWithMenusAndValues) {
    for (bool oldDriver : {false, true}) {
        SCOPED_TRACE(oldDriver ? "without NEXT_CTRL" : "with NEXT_CTRL");
        Rig rig;
        FakeV4L2Device::Node node = cameraWithControls();
        node.controlsNeedNextCtrlFallback = oldDriver;
        rig.device->addNode(0, node);
        ASSERT_TRUE(rig.capture->connectDriver(0));
        const QList<CaptureControl> controls = rig.capture->controls();
        ASSERT_EQ(controls.size(), 3); // the disabled one and the class are left out
        EXPECT_EQ(controls[0].name, QStringLiteral("Brightness"));
        EXPECT_EQ(controls[0].kind, CaptureControl::Kind::Integer);
        EXPECT_EQ(controls[0].minimum, -64);
        EXPECT_EQ(controls[1].kind, CaptureControl::Kind::Boolean);
        EXPECT_EQ(controls[1].value, 1);
        EXPECT_EQ(controls[2].kind, CaptureControl::Kind::Menu);
        ASSERT_EQ(controls[2].menu.size(), 3);
        EXPECT_EQ(controls[2].menu[2].value, 3);
        EXPECT_EQ(controls[2].menu[2].name, QStringLiteral("Auto"));
        EXPECT_EQ(controls[2].value, 3);

        EXPECT_TRUE(rig.capture->setControl(V4L2_CID_BRIGHTNESS, 12));
        EXPECT_FALSE(rig.capture->setControl(V4L2_CID_BRIGHTNESS, 100)); // out of range
        const auto sets = rig.device->callsOf(VIDIOC_S_CTRL);
        ASSERT_EQ(sets.size(), 2);
        EXPECT_EQ(sets[0].id, quint32(V4L2_CID_BRIGHTNESS));
        EXPECT_EQ(sets[0].value, 12);
        EXPECT_EQ(rig.capture->controls()[0].value, 12);
    }
}

TEST(V4L2CaptureTest, CapabilityFlagsFollowControlsInputsAndFormats) {
    struct Case {
        bool controls;
        int inputs;
        bool raw; // false: Motion JPEG only
        bool source;
        bool format;
    };
    const Case cases[] = {{false, 1, true, false, true},
                          {true, 1, true, true, true},
                          {false, 2, true, true, true},
                          {false, 1, false, false, true}};
    for (const Case& c : cases) {
        Rig rig;
        FakeV4L2Device::Node node = c.controls ? cameraWithControls() : Rig::webcam();
        node.inputs = c.inputs == 2 ? QStringList{"Composite", "S-Video"} : QStringList{"Camera"};
        if (!c.raw)
            node.formats = {{V4L2_PIX_FMT_MJPEG, {{640, 480}}, {}, {{1, 30}}}};
        rig.device->addNode(3, node);
        ASSERT_TRUE(rig.capture->connectDriver(3));
        CaptureDriverCaps caps;
        ASSERT_TRUE(rig.capture->getDriverCaps(caps));
        EXPECT_EQ(caps.deviceIndex, 3u);
        EXPECT_EQ(caps.hasSourceDialog, c.source);
        EXPECT_EQ(caps.hasFormatDialog, c.format);
    }
}

TEST(V4L2CaptureTest, InputChangeRestartsTheStream) {
    Rig rig;
    FakeV4L2Device::Node node = Rig::webcam();
    node.inputs = {QStringLiteral("Composite"), QStringLiteral("S-Video")};
    rig.device->addNode(0, node);
    ASSERT_TRUE(rig.capture->connectDriver(0));
    ASSERT_TRUE(rig.capture->setPreview(true));
    ASSERT_EQ(rig.capture->inputs().size(), 2);
    EXPECT_EQ(rig.capture->inputs()[1].name, QStringLiteral("S-Video"));
    EXPECT_TRUE(rig.capture->setInput(1));
    EXPECT_EQ(rig.capture->currentInput(), 1);
    EXPECT_TRUE(rig.device->streaming());
    EXPECT_FALSE(rig.capture->setInput(5));
}

TEST(V4L2CaptureTest, DisconnectReleasesEverything) {
    Rig rig;
    ASSERT_TRUE(rig.startWith(V4L2_PIX_FMT_YUYV, 8, 4));
    rig.capture->disconnectDriver();
    EXPECT_FALSE(rig.device->streaming());
    EXPECT_EQ(rig.device->mappedBuffers(), 0);
    EXPECT_EQ(rig.device->bufferCount(), 0);
    EXPECT_EQ(rig.device->openDescriptors(), 0);
}

} // namespace
} // namespace talvora
