#include "capture/CaptureBackendFactory.h"

#include "capture/FrameTicker.h"
#include "capture/TestCamera.h"
#include "capture/V4L2Capture.h"

namespace talvora {

std::unique_ptr<CaptureBackend> makeCaptureBackend(const std::optional<TestCameraConfig>& testCamera) {
    if (testCamera)
        return std::make_unique<TestCamera>(*testCamera, makeTimerFrameTicker());
    return std::make_unique<V4L2Capture>(std::make_shared<SystemV4L2Device>());
}

} // namespace talvora
