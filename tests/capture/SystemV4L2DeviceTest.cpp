#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "capture/CaptureBackendFactory.h"
#include "capture/TestCamera.h"
#include "capture/V4L2Capture.h"
#include "support/EventLoop.h"

namespace talvora {
namespace {

// The real system calls against nodes that are not cameras: a plain file answers no V4L2
// request, a directory cannot be opened for writing. No camera exists on the test machines.
TEST(SystemV4L2DeviceTest, NodesThatAreNotCamerasDoNotConnect) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile plain(dir.filePath(QStringLiteral("video0")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("not a camera");
    plain.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("video2")));

    V4L2Capture capture(std::make_shared<SystemV4L2Device>(), dir.filePath(QStringLiteral("video%1")));
    QStringList statuses;
    capture.setStatusCallback([&](CaptureBackend::StatusId, const QString& text) { statuses << text; });
    EXPECT_FALSE(capture.connectDriver(0)); // VIDIOC_QUERYCAP fails with ENOTTY
    EXPECT_FALSE(capture.connectDriver(1)); // missing: the normal end of a search, no text
    EXPECT_TRUE(statuses.isEmpty());
    EXPECT_FALSE(capture.connectDriver(2));
    ASSERT_EQ(statuses.size(), 1);
    EXPECT_EQ(statuses[0], QStringLiteral("Cannot open %1: Is a directory").arg(dir.filePath("video2")));
    EXPECT_FALSE(capture.isConnected());
}

// A node appearing in the watched directory is heard of from the event loop; after the
// watching ends it is not.
TEST(SystemV4L2DeviceTest, NewNodesInTheDirectoryAreReported) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    V4L2Capture capture(std::make_shared<SystemV4L2Device>(), dir.filePath(QStringLiteral("video%1")));
    int appeared = 0;
    capture.setDeviceAppearedCallback([&] { ++appeared; });
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("video0")));
    ASSERT_TRUE(test::waitUntil([&] { return appeared > 0; }, 10000));
    capture.setDeviceAppearedCallback(nullptr);
    const int before = appeared;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("video1")));
    test::waitUntil([] { return false; }, 200);
    EXPECT_EQ(appeared, before);
}

TEST(SystemV4L2DeviceTest, FactoryChoosesTheTestCameraOnlyWhenAsked) {
    const auto real = makeCaptureBackend(std::nullopt);
    EXPECT_NE(dynamic_cast<V4L2Capture*>(real.get()), nullptr);
    const auto synthetic = makeCaptureBackend(TestCameraConfig{kFourccY8, 64, 48});
    auto* camera = dynamic_cast<TestCamera*>(synthetic.get());
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->config(), (TestCameraConfig{kFourccY8, 64, 48}));
}

} // namespace
} // namespace talvora
