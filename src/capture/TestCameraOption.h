#pragma once

#include <QString>
#include <QtGlobal>

#include "capture/TestPatternDrawing.h"
#include "convert/BitmapInfo.h"

namespace talvora {

// What --test-camera[=FOURCC[:WIDTHxHEIGHT[:PICTURE]]] asks for.
struct TestCameraConfig {
    quint32 compression = kFourccYUY2; // kBiRgb, one of the seven YUV FOURCCs or kFourccMJPG
    int width = 384;
    int height = 288;
    // What the camera shows first: the colour bars ("bars") or the scene ("scene"), which
    // compresses like a webcam's picture. The source dialog can switch it.
    int pattern = TestPatternSettings::ColourBars;

    bool operator==(const TestCameraConfig&) const = default;
};

// Parses the option's value (the text after "="; empty for the bare option). Kinds and pictures
// are matched without regard to case: RGB, YUY2, UYVY, Y41P, YVU9, I420, Y8, Y211, MJPG (Motion JPEG,
// delivered decoded as a webcam's frames are). Throws talvora::Error with a text that says what is wrong and
// what would be right.
TestCameraConfig parseTestCameraOption(const QString& value);

} // namespace talvora
