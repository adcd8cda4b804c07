#pragma once

#include <QImage>

#include <QColor>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace talvora::test {

// Deterministic pseudo-random bytes (a 32-bit LCG), so pictures and noise repeat run to run.
class Lcg {
public:
    explicit Lcg(std::uint32_t seed) : m_state(seed) {}
    std::uint32_t next() {
        m_state = m_state * 1664525u + 1013904223u;
        return m_state;
    }
    int byte() { return int(next() >> 24); }

private:
    std::uint32_t m_state;
};

// Something like a webcam picture of a room: smooth shading, a few soft shapes, one finely
// textured area and a little sensor noise. `frame` moves the shapes, as a person would.
inline QImage cameraLikePicture(int width, int height, int frame = 0) {
    QImage img(width, height, QImage::Format_RGB888);
    Lcg noise(std::uint32_t(frame) * 7919u + 17u);
    const double cx = width * (0.45 + 0.05 * std::sin(frame * 0.2));
    const double cy = height * 0.5;
    const double r = height * 0.3;
    for (int y = 0; y < height; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double gx = double(x) / width;
            const double gy = double(y) / height;
            double red = 70 + 90 * gy + 30 * gx;
            double green = 80 + 60 * gy;
            double blue = 110 - 40 * gy + 20 * gx;
            const double dx = x - cx;
            const double dy = (y - cy) * 0.8;
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d < r) { // a face-like soft disc
                const double t = 1.0 - d / r;
                red += 120 * t;
                green += 70 * t;
                blue += 40 * t;
            }
            if (x > width * 3 / 4 && y < height / 3) { // a bookshelf: fine texture
                red += 30 * std::sin(x * 0.9) * std::sin(y * 0.35);
                green += 25 * std::sin(x * 0.45 + y * 0.2);
            }
            const int n = (noise.byte() & 7) - 4; // sensor noise, about +-4
            row[3 * x + 0] = uchar(std::clamp(int(red) + n, 0, 255));
            row[3 * x + 1] = uchar(std::clamp(int(green) + n, 0, 255));
            row[3 * x + 2] = uchar(std::clamp(int(blue) + n, 0, 255));
        }
    }
    return img;
}

// A camera picture with strong grain (+-amplitude on every sample), as from a cheap sensor in
// a dark room: large at high quality, yet it fits one datagram at a low one.
inline QImage grainyPicture(int width, int height, int amplitude = 32, std::uint32_t seed = 3) {
    QImage img = cameraLikePicture(width, height);
    Lcg rng(seed);
    for (int y = 0; y < height; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < width * 3; ++x) {
            const int n = int(rng.next() % std::uint32_t(2 * amplitude + 1)) - amplitude;
            row[x] = uchar(std::clamp(int(row[x]) + n, 0, 255));
        }
    }
    return img;
}

// Full-range noise: the worst case for a JPEG encoder.
inline QImage noisePicture(int width, int height, std::uint32_t seed = 1) {
    QImage img(width, height, QImage::Format_RGB888);
    Lcg noise(seed);
    for (int y = 0; y < height; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < width * 3; ++x) {
            row[x] = uchar(noise.byte());
        }
    }
    return img;
}

inline QImage flatPicture(int width, int height, QColor colour) {
    QImage img(width, height, QImage::Format_RGB888);
    img.fill(colour);
    return img;
}

} // namespace talvora::test
