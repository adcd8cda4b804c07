#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QWidget>

#include <linux/videodev2.h>

#include "capture/FakeV4L2Device.h"
#include "capture/V4L2Capture.h"
#include "ui/CaptureController.h"
#include "ui/CaptureSourceDialog.h"

namespace talvora {
namespace {

using test::FakeV4L2Device;

// Two or more fake cameras behind the V4L2 back end, and the remembered choice as the settings
// file would hold it.
struct ChoiceRig {
    QWidget window;
    QWidget* panel = new QWidget(&window);
    QLabel* label = new QLabel(&window);
    std::shared_ptr<FakeV4L2Device> device = std::make_shared<FakeV4L2Device>();
    CaptureController cap{[this] { return std::make_unique<V4L2Capture>(device); }};
    QString remembered;
    QStringList saved;
    int formatReads = 0;

    ChoiceRig() {
        window.resize(1000, 650);
        panel->setGeometry(0, 462, 250, 188);
        cap.setVideoPanel(panel);
        cap.setStatusLabel(label);
        cap.setFormatReader([this] { ++formatReads; });
        cap.setCameraMemory([this] { return remembered; },
                            [this](const QString& path) {
                                saved << path;
                                remembered = path;
                            });
    }

    void addCamera(int index, const char* card, bool busy = false) {
        FakeV4L2Device::Node node;
        node.card = QString::fromLatin1(card);
        node.busy = busy;
        device->addNode(index, node);
    }

    int connectedIndex() const {
        CaptureDriverCaps caps;
        return cap.backend()->getDriverCaps(caps) ? int(caps.deviceIndex) : -1;
    }
};

TEST(CameraChoiceTest, BackEndListsTheCaptureNodesByTheirCardNames) {
    ChoiceRig rig;
    rig.addCamera(0, "Front Camera");
    rig.device->addNode(1, FakeV4L2Device::metadataNode());
    rig.addCamera(3, "Document Camera");
    V4L2Capture capture(rig.device);
    const QList<CaptureDevice> expected{
        {0, QStringLiteral("/dev/video0"), QStringLiteral("Front Camera")},
        {3, QStringLiteral("/dev/video3"), QStringLiteral("Document Camera")}};
    EXPECT_EQ(capture.devices(), expected);
    ASSERT_TRUE(capture.connectDriver(3));
    const int opened = rig.device->openDescriptors();
    EXPECT_EQ(capture.devices(), expected);
    EXPECT_EQ(rig.device->openDescriptors(), opened); // the others were closed again
    CaptureDriverCaps caps;
    ASSERT_TRUE(capture.getDriverCaps(caps));
    EXPECT_TRUE(caps.hasSourceDialog);
}

TEST(CameraChoiceTest, RememberedCameraIsTriedFirstAtTheStart) {
    struct Case {
        const char* remembered;
        bool secondBusy;
        int expectedIndex;
    };
    const Case cases[] = {
        {"", false, 0},            // nothing remembered: the first that works
        {"/dev/video1", false, 1}, // the remembered one
        {"/dev/video0", false, 0}, //
        {"/dev/video5", false, 0}, // remembered, but gone
        {"/dev/video1", true, 0},  // remembered, but used by another program
        {"/tmp/video1", false, 0}, // no node of ours
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remembered);
        ChoiceRig rig;
        rig.addCamera(0, "Front Camera");
        rig.addCamera(1, "Document Camera", c.secondBusy);
        rig.remembered = QString::fromLatin1(c.remembered);
        ASSERT_TRUE(rig.cap.createCaptureWindow());
        EXPECT_EQ(rig.connectedIndex(), c.expectedIndex);
        EXPECT_TRUE(rig.saved.isEmpty()); // only a choice of the user's is written
    }
}

TEST(CameraChoiceTest, SourceDialogOffersEveryCameraAndSwitchesToTheChosenOne) {
    ChoiceRig rig;
    rig.addCamera(0, "Front Camera");
    rig.addCamera(2, "Document Camera");
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    rig.cap.startPreview();
    ASSERT_TRUE(rig.cap.backend()->isPreviewing());

    CaptureSourceDialog dialog(*rig.cap.backend(), nullptr, [&](int index) { rig.cap.chooseCamera(index); });
    auto* cameras = dialog.findChild<QComboBox*>(QStringLiteral("cameras"));
    ASSERT_NE(cameras, nullptr);
    ASSERT_EQ(cameras->count(), 2);
    EXPECT_EQ(cameras->itemText(0), QStringLiteral("Front Camera (/dev/video0)"));
    EXPECT_EQ(cameras->itemText(1), QStringLiteral("Document Camera (/dev/video2)"));
    EXPECT_EQ(cameras->currentIndex(), 0);

    cameras->activated(1);
    EXPECT_EQ(rig.connectedIndex(), 2);
    EXPECT_TRUE(rig.cap.backend()->isPreviewing());
    EXPECT_EQ(rig.saved, QStringList{QStringLiteral("/dev/video2")});
    EXPECT_EQ(rig.formatReads, 1);
    QCoreApplication::processEvents(); // the dialog is built anew for the chosen camera
    cameras = dialog.findChild<QComboBox*>(QStringLiteral("cameras"));
    ASSERT_NE(cameras, nullptr);
    EXPECT_EQ(cameras->currentIndex(), 1);

    // The camera already in use: nothing to do, nothing written.
    rig.cap.chooseCamera(2);
    EXPECT_EQ(rig.saved.size(), 1);
    EXPECT_EQ(rig.formatReads, 1);

    // A camera that cannot be connected: the first that works takes over, and is not remembered.
    rig.device->node(0).busy = true;
    rig.cap.chooseCamera(0);
    EXPECT_EQ(rig.connectedIndex(), 2);
    EXPECT_EQ(rig.saved.size(), 1);
}

TEST(CameraChoiceTest, OneCameraOffersNoChoice) {
    ChoiceRig rig;
    rig.addCamera(0, "Front Camera");
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    CaptureSourceDialog dialog(*rig.cap.backend(), nullptr, [&](int index) { rig.cap.chooseCamera(index); });
    EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("cameras")), nullptr);
}

} // namespace
} // namespace talvora
