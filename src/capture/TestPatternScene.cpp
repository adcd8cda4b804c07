#include "capture/TestPatternScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace talvora {

namespace {

// A webcam's picture is soft and of moderate contrast, and its sensor adds a grain of a grey
// level or so. At JPEG quality 100 every step counts, so these two set the pictures' size: with
// the colours drawn at 65 % of their contrast and 15 % of the pixels a level lighter or darker,
// a 384 x 288 picture takes 50 to 55 kB and a 640 x 480 one about 125 kB (see
// bench_picture_sizes), as a webcam's do in room light.
constexpr float kContrast = 0.65f;
constexpr int kGrainPercent = 15;
// Offsets of consecutive frames into the noise table.
constexpr qsizetype kNoiseStride = 7919;

quint32 hash(int x, int y, quint32 seed) {
    quint32 h = quint32(x) * 374761393u + quint32(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

float lattice(int x, int y, quint32 seed) {
    return float(hash(x, y, seed) & 0xFFFF) / 65535.0f;
}

// Smooth random texture in 0..1: octaves of interpolated lattice noise, the first with cells of
// `cell` pixels (across and `cellY` down), each next one half as large and half as strong.
float fractal(float x, float y, float cell, float cellY, int octaves, quint32 seed) {
    float sum = 0, weight = 0, amplitude = 1;
    for (int o = 0; o < octaves; ++o, cell /= 2, cellY /= 2, amplitude /= 2) {
        const float fx = x / std::max(cell, 1.0f);
        const float fy = y / std::max(cellY, 1.0f);
        const int ix = int(std::floor(fx));
        const int iy = int(std::floor(fy));
        float tx = fx - float(ix);
        float ty = fy - float(iy);
        tx = tx * tx * (3 - 2 * tx);
        ty = ty * ty * (3 - 2 * ty);
        const quint32 s = seed + quint32(o) * 101u;
        const float top = lattice(ix, iy, s) + (lattice(ix + 1, iy, s) - lattice(ix, iy, s)) * tx;
        const float bottom =
            lattice(ix, iy + 1, s) + (lattice(ix + 1, iy + 1, s) - lattice(ix, iy + 1, s)) * tx;
        sum += amplitude * (top + (bottom - top) * ty);
        weight += amplitude;
    }
    return sum / weight;
}

struct Colour {
    float r, g, b;
    Colour operator*(float f) const { return {r * f, g * f, b * f}; }
    Colour operator+(const Colour& o) const { return {r + o.r, g + o.g, b + o.b}; }
};

Colour mix(const Colour& a, const Colour& b, float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    return a * (1 - t) + b * t;
}

void put(uchar* p, const Colour& c) {
    p[0] = uchar(std::clamp(int(128 + kContrast * (c.r - 128) + 0.5f), 0, 255));
    p[1] = uchar(std::clamp(int(128 + kContrast * (c.g - 128) + 0.5f), 0, 255));
    p[2] = uchar(std::clamp(int(128 + kContrast * (c.b - 128) + 0.5f), 0, 255));
}

bool inside(float u, float v, float u0, float v0, float u1, float v1) {
    return u >= u0 && u < u1 && v >= v0 && v < v1;
}

// The room, one pixel at (x, y) of a width x height picture.
Colour roomAt(int x, int y, int width, int height) {
    const float u = (float(x) + 0.5f) / float(width);
    const float v = (float(y) + 0.5f) / float(height);
    const float w = float(width);
    const float border = std::max(2.0f, w / 110);
    const float fx = float(x), fy = float(y);

    // The window, with sky, clouds and the leaves of a tree.
    if (inside(u, v, 0.04f, 0.06f, 0.30f, 0.52f)) {
        const float x0 = 0.04f * w, x1 = 0.30f * w, y0 = 0.06f * float(height), y1 = 0.52f * float(height);
        const bool frame = fx - x0 < border || x1 - fx < border || fy - y0 < border || y1 - fy < border ||
                           std::abs(fx - (x0 + x1) / 2) < border / 2 ||
                           std::abs(fy - (y0 + y1) / 2) < border / 2;
        if (frame)
            return Colour{232, 230, 224} * (0.95f + 0.05f * fractal(fx, fy, 12, 12, 2, 11));
        Colour sky = mix({160, 196, 238}, {222, 230, 240}, (v - 0.06f) / 0.46f);
        sky = mix(sky, {246, 246, 248}, (fractal(fx, fy, w / 8, w / 14, 4, 21) - 0.5f) * 5);
        const float leaves = fractal(fx, fy, w / 24, w / 24, 2, 31) + (v - 0.25f) * 0.9f;
        if (leaves > 0.72f)
            return Colour{58, 92, 40} * (0.8f + 0.4f * fractal(fx, fy, w / 60, w / 60, 1, 41));
        return sky;
    }
    // A poster in a dark frame: soft patches of colour.
    if (inside(u, v, 0.36f, 0.12f, 0.56f, 0.40f)) {
        const float x0 = 0.36f * w, x1 = 0.56f * w, y0 = 0.12f * float(height), y1 = 0.40f * float(height);
        if (fx - x0 < border || x1 - fx < border || fy - y0 < border || y1 - fy < border)
            return {38, 36, 34};
        const float a = fractal(fx, fy, w / 16, w / 16, 3, 51);
        const float b = fractal(fx, fy, w / 24, w / 24, 3, 61);
        return Colour{210 * a + 40, 120 * b + 60, 200 * (1 - a) + 30};
    }
    // The bookshelf: side boards, three shelves, rows of books of every width and colour.
    if (inside(u, v, 0.66f, 0.04f, 0.97f, 0.64f)) {
        const Colour wood{118, 80, 50};
        const float grain = 0.85f + 0.15f * std::sin(fy * 0.35f + 6 * fractal(fx, fy, 20, 4, 2, 71));
        const float x0 = 0.66f * w, x1 = 0.97f * w;
        if (fx - x0 < border * 2 || x1 - fx < border * 2)
            return wood * grain;
        const float shelfV = (v - 0.04f) / 0.60f * 3; // three compartments
        const int shelf = std::min(2, int(shelfV));
        const float within = shelfV - float(shelf);
        if (within > 0.90f)
            return wood * grain * 0.9f;
        // Books: widths and colours from the hash of their index along the shelf.
        const float unit = std::max(3.0f, w / 48);
        const int slot = int((fx - x0) / unit);
        const quint32 book = hash(slot / 2 + shelf * 1000, shelf, 81) % 7u;
        static const Colour covers[7] = {{150, 40, 38}, {40, 70, 130},   {205, 180, 90}, {45, 110, 70},
                                         {90, 60, 120}, {210, 210, 200}, {30, 30, 34}};
        const float top = 0.12f + 0.25f * float(hash(slot / 2, shelf, 91) % 100u) / 100.0f;
        if (within < top)
            return Colour{40, 30, 24} * (0.8f + 0.3f * within); // the dark back of the shelf
        Colour c = covers[book];
        // Spines are rounded and carry bands of lettering.
        const float across = std::fmod(fx - x0, unit * 2) / (unit * 2);
        c = c * (0.72f + 0.35f * std::sin(across * float(std::numbers::pi)));
        const float band = std::fmod(within * 23.0f + float(book), 3.0f);
        if (book % 3 == 0 && band < 0.45f && across > 0.25f && across < 0.75f)
            c = mix(c, {235, 225, 190}, 0.55f);
        return c;
    }
    // The desk along the bottom, in wood with its grain.
    if (v > 0.82f) {
        const float g =
            std::sin((u * 9 + 3 * fractal(fx, fy, w / 5, w / 20, 2, 101)) * float(std::numbers::pi));
        const Colour c = Colour{156, 110, 72} * (0.9f + 0.06f * g);
        return v < 0.835f ? c * 0.7f : c;
    }
    // The wall: plaster, lit from the window on the left.
    const float light = 0.80f + 0.30f * (1 - u) * (1 - 0.5f * v);
    const float plaster = 1 + 0.05f * (fractal(fx, fy, w / 5, w / 5, 2, 111) - 0.5f);
    return Colour{180, 168, 150} * (light * plaster);
}

// A webcam's lens and its sensor's colour filter soften every edge: a [1 2 1] / 4 blur across
// and down, in place.
void soften(std::vector<uchar>& rgb, int width, int height) {
    std::vector<uchar> copy(rgb);
    const auto at = [&](const std::vector<uchar>& p, int x, int y, int c) {
        x = std::clamp(x, 0, width - 1);
        y = std::clamp(y, 0, height - 1);
        return int(p[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3 + std::size_t(c)]);
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                copy[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3 + std::size_t(c)] =
                    uchar((at(rgb, x - 1, y, c) + 2 * at(rgb, x, y, c) + at(rgb, x + 1, y, c) + 2) / 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3 + std::size_t(c)] =
                    uchar((at(copy, x, y - 1, c) + 2 * at(copy, x, y, c) + at(copy, x, y + 1, c) + 2) / 4);
}

} // namespace

void TestPatternScene::build(int width, int height) {
    m_width = width;
    m_height = height;
    m_background.resize(std::size_t(width) * std::size_t(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            put(&m_background[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3],
                roomAt(x, y, width, height));
    }
    soften(m_background, width, height);

    // The person: head and shoulders, centred, from a little above the head to the bottom.
    const float w = float(width), h = float(height);
    const float cx = w * 0.5f, headY = h * 0.36f;
    const float rx = w * 0.085f, ry = h * 0.16f;
    m_personX = std::max(0, int(cx - w * 0.28f));
    m_personY = std::max(0, int(headY - ry * 1.15f));
    m_personWidth = std::min(width - m_personX, int(w * 0.56f) + 1);
    m_personHeight = height - m_personY;
    m_person.assign(std::size_t(m_personWidth) * std::size_t(m_personHeight) * 3, 0);
    m_coverage.assign(std::size_t(m_personWidth) * std::size_t(m_personHeight), 0);
    for (int by = 0; by < m_personHeight; ++by) {
        for (int bx = 0; bx < m_personWidth; ++bx) {
            const float x = float(bx + m_personX) + 0.5f, y = float(by + m_personY) + 0.5f;
            const float dx = (x - cx) / rx, dy = (y - headY) / ry;
            const float d = std::sqrt(dx * dx + dy * dy);
            // Coverage from the distance to each outline, one pixel of soft edge.
            const float headEdge = (1.05f - d) * std::min(rx, ry);
            const float torsoTop = headY + ry * 1.05f;
            const float shoulders = std::min(w * 0.27f, w * 0.07f + (y - torsoTop) * 1.6f);
            const float torsoEdge = std::min(shoulders - std::abs(x - cx), (y - torsoTop) * 2);
            const float neckEdge = std::min(rx * 0.45f - std::abs(x - cx), torsoTop + ry * 0.2f - y);
            Colour c;
            float edge = 0;
            if (headEdge > -1 && headEdge >= torsoEdge) {
                edge = headEdge;
                const float hairline = -0.25f + 0.12f * std::sin(dx * 5);
                if (dy < hairline || d > 0.97f) {
                    c = Colour{62, 42, 30} * (0.6f + 0.8f * fractal(x, y, 4, 14, 2, 131));
                } else {
                    c = Colour{226, 176, 146} * (1.0f - 0.32f * d * d);
                    const float ex = std::abs(dx) - 0.36f, ey = dy + 0.08f;
                    if (ex * ex / 0.012f + ey * ey / 0.004f < 1)
                        c = {48, 36, 34}; // eyes
                    if (dx * dx / 0.09f + (dy - 0.48f) * (dy - 0.48f) / 0.003f < 1)
                        c = {168, 86, 84}; // mouth
                }
            } else if (neckEdge > -1 && y < torsoTop + ry * 0.2f && y > headY) {
                edge = neckEdge;
                c = Colour{200, 150, 124} * 0.9f;
            } else {
                edge = torsoEdge;
                // A plain shirt, folds in shadow.
                c = Colour{66, 96, 150} * (0.8f + 0.3f * fractal(x, y, w / 10, w / 6, 2, 141));
            }
            const std::size_t i = std::size_t(by) * std::size_t(m_personWidth) + std::size_t(bx);
            m_coverage[i] = uchar(std::clamp(int((edge + 0.5f) * 255), 0, 255));
            put(&m_person[i * 3], c);
        }
    }

    soften(m_person, m_personWidth, m_personHeight);
    // The grain: a level up or down for one pixel in so many, the same in all three colours.
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    m_noise.resize(pixels + std::size_t(kNoiseStride) * kCycleFrames);
    quint32 state = 12345;
    for (qint8& n : m_noise) {
        state = state * 1664525u + 1013904223u;
        const quint32 draw = (state >> 16) % 200u;
        n = draw >= 2 * kGrainPercent ? 0 : draw % 2 ? 1 : -1;
    }
}

void TestPatternScene::draw(int width, int height, quint64 frameNumber, bool moving, uchar* rgb) {
    if (width != m_width || height != m_height)
        build(width, height);
    const int index = int(frameNumber % quint64(kCycleFrames));
    std::memcpy(rgb, m_background.data(), m_background.size());

    // A slow sway and a nod, twice as fast.
    const double phase = 2 * std::numbers::pi * index / kCycleFrames;
    const int shiftX = moving ? int(std::lround(0.05 * width * std::sin(phase))) : 0;
    const int shiftY = moving ? int(std::lround(0.012 * height * std::sin(2 * phase + 1))) : 0;
    for (int by = 0; by < m_personHeight; ++by) {
        const int y = m_personY + by + shiftY;
        if (y < 0 || y >= height)
            continue;
        const uchar* coverage = &m_coverage[std::size_t(by) * std::size_t(m_personWidth)];
        const uchar* person = &m_person[std::size_t(by) * std::size_t(m_personWidth) * 3];
        uchar* row = rgb + std::size_t(y) * std::size_t(width) * 3;
        for (int bx = 0; bx < m_personWidth; ++bx) {
            const int x = m_personX + bx + shiftX;
            const int a = coverage[bx];
            if (a == 0 || x < 0 || x >= width)
                continue;
            uchar* p = row + std::size_t(x) * 3;
            for (int c = 0; c < 3; ++c)
                p[c] = uchar((p[c] * (255 - a) + person[bx * 3 + c] * a + 127) / 255);
        }
    }

    const qint8* noise = m_noise.data() + std::size_t(index) * std::size_t(kNoiseStride);
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    for (std::size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c)
            rgb[i * 3 + c] = uchar(std::clamp(int(rgb[i * 3 + c]) + noise[i], 0, 255));
}

} // namespace talvora
