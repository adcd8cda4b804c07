#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <unordered_map>
#include <vector>

namespace talvora {

// The eight frame layouts of the synthetic camera: 24-bit RGB (bottom-up bitmap rows) and the
// seven YUV FOURCCs (rows without padding, top-down except Y41P, which is bottom-up like the
// V4L2 back end's), named by their biCompression value.
bool isTestPatternKind(quint32 compression);
// "RGB", "YUY2", ..., "Y8", "Y211".
QString testPatternKindName(quint32 compression);
// Bytes of one frame; 0 for an unknown kind or a size outside 1..kMaxTestPatternEdge.
qsizetype testPatternFrameSize(quint32 compression, int width, int height);
// The bitmap info block (40 bytes) describing such frames; empty when the kind is unknown.
QByteArray testPatternFormatBlock(quint32 compression, int width, int height);

inline constexpr int kMaxTestPatternEdge = 4096;

struct TestPatternSettings {
    enum Pattern { ColourBars = 0, Gradient = 1, Checkerboard = 2 };
    int pattern = ColourBars;
    int brightness = 0; // -64..64, added to each colour channel
    int noiseLevel = 0; // 0..100, amplitude of the per-pixel noise
    bool moving = true; // the picture moves by a few pixels every frame
};

// Draws frame `frameNumber` into `frame` (testPatternFrameSize bytes), reusing `scratch` so
// that no allocation happens per frame once the size is set. False for an unknown kind or a
// buffer of the wrong size.
bool renderTestPattern(quint32 compression, int width, int height, quint64 frameNumber,
                       const TestPatternSettings& settings, QByteArray& scratch, uchar* frame,
                       qsizetype frameSize);

// Draws the frames of one camera at a fraction of renderTestPattern's cost, with the same
// result: the still picture is drawn once per layout, size and settings, wide (and for the
// checkerboard tall) enough to hold every shift of the moving picture, and each frame is copied
// out of it row by row; Motion JPEG frames are compressed once per shift and decoded every time.
// Noisy frames, which differ every time, are drawn whole.
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
    bool renderMjpeg(int width, int height, quint64 frameNumber, const TestPatternSettings& settings,
                     uchar* frame);

    static constexpr qsizetype kMaxCachedJpegBytes = qsizetype(64) << 20;

    Key m_key;
    // The wide picture for each remainder of the shift by the layout's group width.
    std::vector<QByteArray> m_wide;
    // Motion JPEG: the compressed frame for each shift within the picture's period.
    std::unordered_map<int, QByteArray> m_jpegs;
    qsizetype m_jpegBytes = 0;
    QByteArray m_scratch;
};

} // namespace talvora
