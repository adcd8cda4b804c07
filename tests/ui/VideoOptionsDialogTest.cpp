#include <gtest/gtest.h>

#include "support/Controls.h"

#include "ui/RbButton.h"
#include "ui/RbPanel.h"
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>

#include <linux/videodev2.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "capture/FakeV4L2Device.h"
#include "capture/V4L2Capture.h"
#include "support/EventLoop.h"
#include "ui/CaptureController.h"
#include "ui/CaptureFormatDialog.h"
#include "ui/CaptureSourceDialog.h"
#include "ui/VideoOptionsDialog.h"

namespace talvora {
namespace {

using test::FakeV4L2Device;

// Finds a control of the dialog by its object name; a missing one fails the test.
using test::control;

FakeV4L2Device::Control menuControl() {
    FakeV4L2Device::Control menu;
    menu.query.id = V4L2_CID_POWER_LINE_FREQUENCY;
    menu.query.type = V4L2_CTRL_TYPE_MENU;
    std::strcpy(reinterpret_cast<char*>(menu.query.name), "Power Line Frequency");
    menu.query.maximum = 3;
    menu.query.default_value = 1;
    menu.menu = {{0, "Disabled"}, {1, "50 Hz"}, {3, "Auto"}};
    menu.value = 1;
    return menu;
}

FakeV4L2Device::Control booleanControl(quint32 id, const char* name, qint32 value) {
    FakeV4L2Device::Control control;
    control.query.id = id;
    control.query.type = V4L2_CTRL_TYPE_BOOLEAN;
    std::strcpy(reinterpret_cast<char*>(control.query.name), name);
    control.query.maximum = 1;
    control.query.step = 1;
    control.query.default_value = 1;
    control.value = value;
    return control;
}

struct Rig {
    QWidget window;
    QWidget* panel = new QWidget(&window);
    std::shared_ptr<FakeV4L2Device> device = std::make_shared<FakeV4L2Device>();
    CaptureController cap{[this] { return std::make_unique<V4L2Capture>(device); }};
    VideoOptionsDialog options{cap, &window};
    QStringList events;

    Rig() {
        window.resize(1000, 650);
        panel->setGeometry(0, 462, 250, 188);
        cap.setVideoPanel(panel);
        options.setReadCaptureFormat([this] { events << QStringLiteral("read format"); });
    }

    void start(const FakeV4L2Device::Node& node) {
        device->addNode(0, node);
        ASSERT_TRUE(cap.createCaptureWindow());
        cap.startPreview();
    }
};

TEST(VideoOptionsTest, WindowLayout) {
    Rig rig;
    EXPECT_EQ(rig.options.size(), QSize(298, 184));
    EXPECT_TRUE(rig.options.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(rig.options.windowTitle(), QStringLiteral("Video Display Options"));
    EXPECT_EQ(control<RbPanel>(rig.options, "RbPanel1")->geometry(), QRect(0, 0, 298, 184));
    EXPECT_EQ(control<QGroupBox>(rig.options, "GroupBox1")->geometry(), QRect(16, 16, 265, 105));
    EXPECT_EQ(control<QGroupBox>(rig.options, "GroupBox1")->title(),
              QStringLiteral(" General Video Settings "));
    EXPECT_EQ(control<RbButton>(rig.options, "btnSource")->geometry(), QRect(35, 50, 94, 39));
    EXPECT_EQ(control<RbButton>(rig.options, "btnFormat")->geometry(), QRect(171, 50, 94, 39));
    EXPECT_EQ(control<RbButton>(rig.options, "btnClose")->geometry(), QRect(115, 138, 75, 25));
    EXPECT_EQ(control<RbButton>(rig.options, "btnSource")->text(), QStringLiteral("Video Source"));
    EXPECT_EQ(control<RbButton>(rig.options, "btnFormat")->text(), QStringLiteral("Video Format"));
    EXPECT_EQ(control<RbButton>(rig.options, "btnClose")->text(), QStringLiteral("Close"));
    EXPECT_FALSE(control<RbButton>(rig.options, "btnSource")->isEnabled());
    EXPECT_FALSE(control<RbButton>(rig.options, "btnFormat")->isEnabled());
    const QImage face = control<RbPanel>(rig.options, "RbPanel1")->grab().toImage();
    EXPECT_EQ(face.pixelColor(10, 130), QColor(0, 111, 164)); // blue face
    EXPECT_EQ(face.pixelColor(149, 1), QColor(Qt::white));    // white border
}

TEST(VideoOptionsTest, AFormatOnlyDriverEnablesOnlyVideoFormatUntilClose) {
    Rig rig;
    rig.start(FakeV4L2Device::Node{}); // one input, no controls
    rig.options.show();
    EXPECT_FALSE(control<RbButton>(rig.options, "btnSource")->isEnabled());
    EXPECT_TRUE(control<RbButton>(rig.options, "btnFormat")->isEnabled());
    control<RbButton>(rig.options, "btnClose")->click();
    EXPECT_FALSE(rig.options.isVisible());
    EXPECT_FALSE(control<RbButton>(rig.options, "btnSource")->isEnabled());
    EXPECT_FALSE(control<RbButton>(rig.options, "btnFormat")->isEnabled());
}

TEST(VideoOptionsTest, WithoutADriverOnlyCloseWorks) {
    Rig rig;
    ASSERT_TRUE(rig.cap.createCaptureWindow()); // no device at all
    rig.options.show();
    EXPECT_FALSE(control<RbButton>(rig.options, "btnSource")->isEnabled());
    EXPECT_FALSE(control<RbButton>(rig.options, "btnFormat")->isEnabled());
    control<RbButton>(rig.options, "btnClose")->click();
    EXPECT_FALSE(rig.options.isVisible());
}

TEST(VideoOptionsTest, ShowingAgainAsksTheDriverAfresh) {
    Rig rig;
    FakeV4L2Device::Node node;
    node.controls.append(FakeV4L2Device::integerControl(V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 128));
    rig.start(node);
    rig.options.show();
    EXPECT_TRUE(control<RbButton>(rig.options, "btnSource")->isEnabled());
    EXPECT_TRUE(control<RbButton>(rig.options, "btnFormat")->isEnabled());
    control<RbButton>(rig.options, "btnClose")->click();
    rig.cap.destroyCaptureWindow();
    rig.options.show();
    EXPECT_FALSE(control<RbButton>(rig.options, "btnSource")->isEnabled());
    EXPECT_FALSE(control<RbButton>(rig.options, "btnFormat")->isEnabled());
    control<RbButton>(rig.options, "btnClose")->click();
}

TEST(VideoOptionsTest, VideoFormatAppliesTheChoiceThenReReadsTheFormat) {
    Rig rig;
    rig.start(FakeV4L2Device::Node{}); // YUYV 640x480 and 320x240
    rig.cap.setDialogRunner([&](QDialog& dialog) {
        rig.events << QStringLiteral("dialog");
        auto* sizes = dialog.findChild<QComboBox*>(QStringLiteral("sizes"));
        ASSERT_NE(sizes, nullptr);
        ASSERT_EQ(sizes->count(), 2);
        EXPECT_EQ(sizes->currentText(), QStringLiteral("640 x 480"));
        sizes->setCurrentIndex(1);
        dialog.accept();
    });
    rig.options.show();
    rig.device->clearCalls();
    control<RbButton>(rig.options, "btnFormat")->click();
    EXPECT_EQ(rig.events, QStringList({"dialog", "read format"}));
    const auto setFormats = rig.device->callsOf(VIDIOC_S_FMT);
    ASSERT_EQ(setFormats.size(), 1);
    EXPECT_EQ(setFormats[0].width, 320u);
    EXPECT_TRUE(rig.device->streaming()); // restarted in the new format
    EXPECT_EQ(readBitmapInfoHeader(rig.cap.videoFormat().constData()).biWidth, 320);
}

TEST(VideoOptionsTest, CancelledFormatDialogChangesNothingButStillReReads) {
    Rig rig;
    rig.start(FakeV4L2Device::Node{});
    rig.cap.setDialogRunner([&](QDialog& dialog) {
        dialog.findChild<QComboBox*>(QStringLiteral("sizes"))->setCurrentIndex(1);
        dialog.reject();
    });
    rig.options.show();
    rig.device->clearCalls();
    control<RbButton>(rig.options, "btnFormat")->click();
    EXPECT_TRUE(rig.device->callsOf(VIDIOC_S_FMT).isEmpty());
    EXPECT_EQ(rig.events, QStringList({"read format"}));
}

TEST(VideoOptionsTest, FormatDialogListsFormatsSizesAndRates) {
    FakeV4L2Device::Node node;
    node.formats = {{V4L2_PIX_FMT_MJPEG, {{1280, 720}}, {}, {{1, 30}}},
                    {V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}, {}, {{1, 30}, {1, 15}}},
                    {V4L2_PIX_FMT_YUV420, {{176, 144}}, {}, {{1, 25}}}};
    auto device = std::make_shared<FakeV4L2Device>();
    device->addNode(0, node);
    V4L2Capture capture(device);
    ASSERT_TRUE(capture.connectDriver(0));
    CaptureFormatDialog dialog(capture);
    auto* formats = dialog.findChild<QComboBox*>(QStringLiteral("formats"));
    auto* sizes = dialog.findChild<QComboBox*>(QStringLiteral("sizes"));
    auto* rates = dialog.findChild<QComboBox*>(QStringLiteral("rates"));
    ASSERT_EQ(formats->count(), 3);
    EXPECT_EQ(formats->itemText(0), QStringLiteral("MJPG (Motion JPEG)"));
    EXPECT_EQ(formats->itemText(1), QStringLiteral("YUY2"));
    EXPECT_EQ(formats->itemText(2), QStringLiteral("I420"));
    EXPECT_EQ(formats->currentIndex(), 1);
    EXPECT_EQ(rates->count(), 2);
    EXPECT_EQ(rates->itemText(1), QStringLiteral("15 frames/s"));
    formats->setCurrentIndex(2);
    ASSERT_EQ(sizes->count(), 1);
    EXPECT_EQ(sizes->itemText(0), QStringLiteral("176 x 144"));
    EXPECT_EQ(rates->itemText(0), QStringLiteral("25 frames/s"));
    EXPECT_EQ(dialog.selectedChoice(), (CaptureFormatChoice{V4L2_PIX_FMT_YUV420, 176, 144, {1, 25}}));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(readBitmapInfoHeader(capture.videoFormat().constData()).biCompression, kFourccI420);
    EXPECT_EQ(device->node(0).timePerFrameValue.denominator, 25u);
}

struct SourceRig {
    std::shared_ptr<FakeV4L2Device> device = std::make_shared<FakeV4L2Device>();
    V4L2Capture capture{device};

    explicit SourceRig(QStringList inputs = {QStringLiteral("Camera 1")}) {
        FakeV4L2Device::Node node;
        node.inputs = inputs;
        node.controls.append(FakeV4L2Device::integerControl(V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 0));
        FakeV4L2Device::Control readOnly = FakeV4L2Device::integerControl(V4L2_CID_GAIN, "Gain", 0, 100, 10);
        readOnly.query.flags = V4L2_CTRL_FLAG_READ_ONLY;
        node.controls.append(readOnly);
        node.controls.append(menuControl());
        node.controls.append(booleanControl(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", 1));
        device->addNode(0, node);
        EXPECT_TRUE(capture.connectDriver(0));
        device->clearCalls();
    }
    template <class W> W* widget(CaptureSourceDialog& dialog, quint32 id) {
        return dialog.findChild<W*>(QStringLiteral("control%1").arg(id));
    }
};

TEST(CaptureSourceDialogTest, ControlsAreAppliedLive) {
    SourceRig rig;
    CaptureSourceDialog dialog(rig.capture);
    auto* brightness = rig.widget<QSlider>(dialog, V4L2_CID_BRIGHTNESS);
    ASSERT_NE(brightness, nullptr);
    EXPECT_EQ(brightness->minimum(), -64);
    EXPECT_EQ(brightness->maximum(), 64);
    brightness->setValue(17);
    auto* gain = rig.widget<QSlider>(dialog, V4L2_CID_GAIN);
    ASSERT_NE(gain, nullptr);
    EXPECT_FALSE(gain->isEnabled());
    auto* power = rig.widget<QComboBox>(dialog, V4L2_CID_POWER_LINE_FREQUENCY);
    ASSERT_NE(power, nullptr);
    ASSERT_EQ(power->count(), 3);
    EXPECT_EQ(power->currentText(), QStringLiteral("50 Hz"));
    power->setCurrentIndex(2);
    emit power->activated(2);
    auto* automatic = rig.widget<QCheckBox>(dialog, V4L2_CID_AUTO_WHITE_BALANCE);
    ASSERT_NE(automatic, nullptr);
    EXPECT_TRUE(automatic->isChecked());
    automatic->click();

    const auto sets = rig.device->callsOf(VIDIOC_S_CTRL);
    ASSERT_EQ(sets.size(), 3);
    EXPECT_EQ(sets[0].id, quint32(V4L2_CID_BRIGHTNESS));
    EXPECT_EQ(sets[0].value, 17);
    EXPECT_EQ(sets[1].id, quint32(V4L2_CID_POWER_LINE_FREQUENCY));
    EXPECT_EQ(sets[1].value, 3); // the menu item's own value, past the gap
    EXPECT_EQ(sets[2].id, quint32(V4L2_CID_AUTO_WHITE_BALANCE));
    EXPECT_EQ(sets[2].value, 0);
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("problem"))->text(), QString());
    EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("inputs")), nullptr); // one input: no choice

    dialog.restoreDefaults();
    EXPECT_EQ(brightness->value(), 0);
    EXPECT_EQ(power->currentText(), QStringLiteral("50 Hz"));
    EXPECT_TRUE(automatic->isChecked());
}

TEST(CaptureSourceDialogTest, ARefusedValueIsReportedAndTheDeviceValueShown) {
    SourceRig rig;
    rig.device->node(0).controls[0].query.maximum = 10; // the device narrowed its range meanwhile
    CaptureSourceDialog dialog(rig.capture);
    auto* brightness = rig.widget<QSlider>(dialog, V4L2_CID_BRIGHTNESS);
    brightness->setMaximum(64);
    brightness->setValue(50);
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("problem"))->text(),
              QStringLiteral("The device refused this setting."));
    EXPECT_EQ(brightness->value(), 0);
}

TEST(CaptureSourceDialogTest, InputsAreOfferedWhenThereIsAChoice) {
    SourceRig rig({QStringLiteral("Composite"), QStringLiteral("S-Video")});
    CaptureSourceDialog dialog(rig.capture);
    auto* inputs = dialog.findChild<QComboBox*>(QStringLiteral("inputs"));
    ASSERT_NE(inputs, nullptr);
    ASSERT_EQ(inputs->count(), 2);
    EXPECT_EQ(inputs->itemText(1), QStringLiteral("S-Video"));
    inputs->setCurrentIndex(1);
    emit inputs->activated(1);
    const auto sets = rig.device->callsOf(VIDIOC_S_INPUT);
    ASSERT_EQ(sets.size(), 1);
    EXPECT_EQ(sets[0].value, 1);
    EXPECT_EQ(rig.capture.currentInput(), 1);
}

} // namespace
} // namespace talvora
