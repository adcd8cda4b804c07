#include "capture/TestPatternDrawing.h"

#include <algorithm>

namespace talvora {

namespace {

// Xorshift noise: cheap, and the same for the same frame.
struct Noise {
    quint32 state;
    int amplitude;
    int next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return int(state % quint32(2 * amplitude + 1)) - amplitude;
    }
};

Noise noiseOf(quint64 frameNumber, int noiseLevel) {
    return {quint32(frameNumber) * 2654435761u + 1u, std::clamp(noiseLevel, 0, 100) * 64 / 100};
}

} // namespace

int testPatternOffset(quint64 frameNumber, const TestPatternSettings& s) {
    return s.moving ? int(frameNumber % 100000) * 4 : 0;
}

void drawTestPattern(const TestPatternCanvas& canvas, quint64 frameNumber, const TestPatternSettings& s,
                     uchar* rgb) {
    static const uchar bars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                     {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
    const int width = canvas.width;
    const int height = canvas.height;
    Noise noise = noiseOf(frameNumber, s.noiseLevel);
    const int brightness = std::clamp(s.brightness, -64, 64);
    for (int y = 0; y < canvas.drawHeight; ++y) {
        for (int x = 0; x < canvas.drawWidth; ++x, rgb += 3) {
            const int px = x + canvas.shiftX;
            int c[3];
            switch (s.pattern) {
            case TestPatternSettings::Gradient:
                c[0] = (px % width) * 255 / std::max(1, width - 1);
                c[1] = y * 255 / std::max(1, height - 1);
                c[2] = 255 - c[0];
                break;
            case TestPatternSettings::Checkerboard: {
                const bool light = ((px / 32) + ((y + canvas.shiftY) / 32)) % 2 == 0;
                c[0] = c[1] = c[2] = light ? 220 : 30;
                break;
            }
            default: {
                const int bar = int((qint64(px) * 8 / width) % 8);
                c[0] = bars[bar][0];
                c[1] = bars[bar][1];
                c[2] = bars[bar][2];
                break;
            }
            }
            for (int& channel : c) {
                channel += brightness;
                if (noise.amplitude > 0)
                    channel += noise.next();
            }
            for (int i = 0; i < 3; ++i)
                rgb[i] = uchar(std::clamp(c[i], 0, 255));
        }
    }
}

void addTestPatternNoise(uchar* rgb, qsizetype count, quint64 frameNumber, int brightness, int noiseLevel) {
    Noise noise = noiseOf(frameNumber, noiseLevel);
    brightness = std::clamp(brightness, -64, 64);
    if (brightness == 0 && noise.amplitude == 0)
        return;
    for (qsizetype i = 0; i < count; ++i) {
        const int c = rgb[i] + brightness + (noise.amplitude > 0 ? noise.next() : 0);
        rgb[i] = uchar(std::clamp(c, 0, 255));
    }
}

} // namespace talvora
