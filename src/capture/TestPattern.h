#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <unordered_map>
#include <vector>

#include "capture/TestPatternDrawing.h"
#include "capture/TestPatternLayout.h"
#include "capture/TestPatternScene.h"

namespace talvora {

// Draws frame `frameNumber` into `frame` (testPatternFrameSize bytes), reusing `scratch` so
// that no allocation happens per frame once the size is set. False for an unknown kind or a
// buffer of the wrong size. Every call draws the whole picture (the scene's still parts too):
// the reference for what TestPatternRenderer delivers.
bool renderTestPattern(quint32 compression, int width, int height, quint64 frameNumber,
                       const TestPatternSettings& settings, QByteArray& scratch, uchar* frame,
                       qsizetype frameSize);

// Draws the frames of one camera at a fraction of renderTestPattern's cost, with the same
// result: the still picture is drawn once per layout, size and settings, wide (and for the
// checkerboard tall) enough to hold every shift of the moving picture, and each frame is copied
// out of it row by row; Motion JPEG frames are compressed once per shift and decoded every time.
// The scene's frames are kept for one cycle of its motion (compressed, for Motion JPEG) as far
// as the memory allows. Noisy frames, which differ every time, are drawn whole.
class TestPatternRenderer {
public:
    bool render(quint32 compression, int width, int height, quint64 frameNumber,
                const TestPatternSettings& settings, uchar* frame, qsizetype frameSize);

private:
    struct Key {
        quint32 compression = 0;
        int width = 0;
        int height = 0;
        int pattern = -1;
        int brightness = 0;
        bool moving = false;
        bool operator==(const Key&) const = default;
    };
    void forget(const Key& key);
    bool renderShifted(quint32 compression, int width, int height, quint64 frameNumber,
                       const TestPatternSettings& settings, uchar* frame, qsizetype frameSize);
    bool renderMjpeg(int width, int height, quint64 frameNumber, const TestPatternSettings& settings,
                     uchar* frame);
    bool renderScene(quint32 compression, int width, int height, quint64 frameNumber,
                     const TestPatternSettings& settings, uchar* frame, qsizetype frameSize);
    const uchar* drawScene(int width, int height, quint64 frameNumber, const TestPatternSettings& settings);

    static constexpr qsizetype kMaxCachedJpegBytes = qsizetype(64) << 20;
    static constexpr qsizetype kMaxCachedSceneBytes = qsizetype(64) << 20;

    Key m_key;
    // The wide picture for each remainder of the shift by the layout's group width.
    std::vector<QByteArray> m_wide;
    // Motion JPEG: the compressed frame for each shift within the picture's period (each frame
    // of the cycle, for the scene).
    std::unordered_map<int, QByteArray> m_jpegs;
    qsizetype m_jpegBytes = 0;
    // The scene's frames, laid out, for each frame of its cycle.
    std::unordered_map<int, QByteArray> m_sceneFrames;
    qsizetype m_sceneBytes = 0;
    TestPatternScene m_scene;
    QByteArray m_scratch;
};

} // namespace talvora
