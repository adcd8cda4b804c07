#pragma once

#include <QtGlobal>

namespace talvora {

struct TestPatternSettings {
    // The scene looks and compresses like a webcam's picture of a room (see TestPatternScene);
    // the others are plain patterns that compress to a few kilobytes.
    enum Pattern { ColourBars = 0, Gradient = 1, Checkerboard = 2, Scene = 3 };
    int pattern = ColourBars;
    int brightness = 0; // -64..64, added to each colour channel
    int noiseLevel = 0; // 0..100, amplitude of the per-pixel noise
    bool moving = true; // the picture moves by a few pixels every frame
};

// How far the moving patterns have moved at a frame, in pixels.
int testPatternOffset(quint64 frameNumber, const TestPatternSettings& settings);

// The picture of a `width` x `height` frame, seen from (shiftX, shiftY), drawn into an area of
// `drawWidth` x `drawHeight` pixels: a larger area holds the picture's continuation.
struct TestPatternCanvas {
    int width, height;
    int drawWidth, drawHeight;
    int shiftX, shiftY;
};

// Draws one of the plain patterns (bars, gradient, checkerboard) as top-down RGB, with the
// settings' brightness and noise (the noise of frame `frameNumber`).
void drawTestPattern(const TestPatternCanvas& canvas, quint64 frameNumber,
                     const TestPatternSettings& settings, uchar* rgb);

// Adds the settings' brightness, and noise of the given amplitude (0..100) seeded by
// `frameNumber`, to `count` RGB bytes.
void addTestPatternNoise(uchar* rgb, qsizetype count, quint64 frameNumber, int brightness, int noiseLevel);

} // namespace talvora
