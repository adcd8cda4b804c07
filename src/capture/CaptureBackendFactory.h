#pragma once

#include <memory>
#include <optional>

#include "capture/CaptureBackend.h"
#include "capture/TestCameraOption.h"

namespace talvora {

// The back end of a new capture window: the V4L2 cameras, or the test camera when
// --test-camera was given.
std::unique_ptr<CaptureBackend> makeCaptureBackend(const std::optional<TestCameraConfig>& testCamera);

} // namespace talvora
