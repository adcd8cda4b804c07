#include "capture/TestPattern.h"

#include "capture/MjpegFrame.h"

#include <algorithm>
#include <cstring>

#include "convert/BitmapInfo.h"

namespace talvora {

namespace {

// How the test camera compresses its Motion JPEG frames. The scene is compressed finely, as a
// webcam compresses its larger sizes: its grain survives into the frames the phone decodes.
constexpr int kTestJpegQuality = 80;
constexpr int kSceneJpegQuality = 92;

// Beyond this the wide picture is not worth its memory, and frames are drawn whole.
constexpr qsizetype kMaxWidePictureBytes = qsizetype(48) << 20;

// A Motion JPEG frame decoded as the V4L2 back end decodes a webcam's: into a bottom-up bitmap,
// large frames at half size.
bool decodeMjpeg(const QByteArray& jpeg, int width, int height, uchar* frame) {
    const QSize delivered = mjpegDeliveredSize(width, height);
    return decodeMjpegFrame(reinterpret_cast<const uchar*>(jpeg.constData()), jpeg.size(), width, height,
                            frame, qsizetype(bitmapRowBytes(qint64(delivered.width()) * 24))) ==
           MjpegDecodeStatus::Ok;
}

bool isScene(const TestPatternSettings& settings) {
    return settings.pattern == TestPatternSettings::Scene;
}

int jpegQualityFor(const TestPatternSettings& settings) {
    return isScene(settings) ? kSceneJpegQuality : kTestJpegQuality;
}

// The frame's picture, from RGB: compressed and decoded the webcam's way for Motion JPEG, laid
// out for the others.
bool deliver(quint32 compression, int width, int height, const TestPatternSettings& settings,
             const uchar* rgb, uchar* frame) {
    if (compression == kFourccMJPG)
        return decodeMjpeg(encodeMjpegFrame(rgb, width, height, jpegQualityFor(settings)), width, height,
                           frame);
    packTestPatternFrame(compression, width, height, rgb, frame);
    return true;
}

} // namespace

bool renderTestPattern(quint32 compression, int width, int height, quint64 frameNumber,
                       const TestPatternSettings& settings, QByteArray& scratch, uchar* frame,
                       qsizetype frameSize) {
    const qsizetype expected = testPatternFrameSize(compression, width, height);
    if (expected == 0 || frameSize != expected)
        return false;
    const qsizetype rgbBytes = qsizetype(width) * height * 3;
    if (scratch.size() != rgbBytes)
        scratch.resize(rgbBytes);
    auto* rgb = reinterpret_cast<uchar*>(scratch.data());
    if (isScene(settings)) {
        TestPatternScene scene;
        scene.draw(width, height, frameNumber, settings.moving, rgb);
        addTestPatternNoise(rgb, rgbBytes, frameNumber, settings.brightness, settings.noiseLevel);
    } else {
        const int offset = testPatternOffset(frameNumber, settings);
        drawTestPattern({width, height, width, height, offset, offset}, frameNumber, settings, rgb);
    }
    return deliver(compression, width, height, settings, rgb, frame);
}

bool TestPatternRenderer::render(quint32 compression, int width, int height, quint64 frameNumber,
                                 const TestPatternSettings& settings, uchar* frame, qsizetype frameSize) {
    const qsizetype expected = testPatternFrameSize(compression, width, height);
    if (expected == 0 || frameSize != expected)
        return false;
    if (isScene(settings))
        return renderScene(compression, width, height, frameNumber, settings, frame, frameSize);
    if (compression == kFourccMJPG && settings.noiseLevel <= 0)
        return renderMjpeg(width, height, frameNumber, settings, frame);
    return renderShifted(compression, width, height, frameNumber, settings, frame, frameSize);
}

bool TestPatternRenderer::renderShifted(quint32 compression, int width, int height, quint64 frameNumber,
                                        const TestPatternSettings& settings, uchar* frame,
                                        qsizetype frameSize) {
    const TestPatternPlanes planes = testPatternPlanes(compression, width, height);
    if (!planes.shiftable || settings.noiseLevel > 0) // noise differs in every frame
        return renderTestPattern(compression, width, height, frameNumber, settings, m_scratch, frame,
                                 frameSize);

    // The bars and the gradient repeat every frame width across; the checkerboard every two
    // squares, both across and down, as it moves diagonally.
    const bool checkerboard = settings.pattern == TestPatternSettings::Checkerboard;
    const int periodX = !settings.moving ? 0 : checkerboard ? 64 : width;
    const int periodY = settings.moving && checkerboard ? 64 : 0;
    const int offset = testPatternOffset(frameNumber, settings);
    const int shiftX = periodX > 0 ? offset % periodX : 0;
    const int shiftY = periodY > 0 ? offset % periodY : 0;
    const int wideWidth = width + periodX + planes.alignX;
    const int wideHeight = height + periodY;
    const TestPatternPlanes widePlanes = testPatternPlanes(compression, wideWidth, wideHeight);
    if (shiftY % planes.alignY != 0 || testPatternBytes(widePlanes) > kMaxWidePictureBytes)
        return renderTestPattern(compression, width, height, frameNumber, settings, m_scratch, frame,
                                 frameSize);

    const Key key{compression, width, height, settings.pattern, settings.brightness, settings.moving};
    if (!(key == m_key)) {
        forget(key);
        m_wide.assign(std::size_t(planes.alignX), QByteArray());
    }
    // A shift that does not fall on a group boundary is cut out of a picture drawn from the
    // shift's remainder onwards.
    const int phase = shiftX % planes.alignX;
    const int start = shiftX - phase;
    QByteArray& wide = m_wide[std::size_t(phase)];
    if (wide.isEmpty()) {
        QByteArray rgb(qsizetype(wideWidth) * wideHeight * 3, Qt::Uninitialized);
        auto* pixels = reinterpret_cast<uchar*>(rgb.data());
        drawTestPattern({width, height, wideWidth, wideHeight, phase, 0}, frameNumber, settings, pixels);
        wide = QByteArray(testPatternBytes(widePlanes), Qt::Uninitialized);
        packTestPatternFrame(compression, wideWidth, wideHeight, pixels,
                             reinterpret_cast<uchar*>(wide.data()));
    }

    const auto* source = reinterpret_cast<const uchar*>(wide.constData());
    for (int i = 0; i < planes.count; ++i) {
        const TestPatternPlane& to = planes.plane[std::size_t(i)];
        const TestPatternPlane& from = widePlanes.plane[std::size_t(i)];
        const qsizetype column = qsizetype(start / to.groupPixels) * to.groupBytes;
        const int firstRow = shiftY / to.lines;
        for (int row = 0; row < to.rows; ++row) {
            const int toRow = to.bottomUp ? to.rows - 1 - row : row;
            const int fromRow = from.bottomUp ? from.rows - 1 - (row + firstRow) : row + firstRow;
            uchar* out = frame + to.offset + qsizetype(toRow) * to.stride;
            std::memcpy(out, source + from.offset + qsizetype(fromRow) * from.stride + column,
                        size_t(to.usedBytes));
            std::fill(out + to.usedBytes, out + to.stride, uchar(0));
        }
    }
    return true;
}

void TestPatternRenderer::forget(const Key& key) {
    m_key = key;
    m_wide.clear();
    m_jpegs.clear();
    m_jpegBytes = 0;
    m_sceneFrames.clear();
    m_sceneBytes = 0;
}

bool TestPatternRenderer::renderMjpeg(int width, int height, quint64 frameNumber,
                                      const TestPatternSettings& settings, uchar* frame) {
    const Key key{kFourccMJPG, width, height, settings.pattern, settings.brightness, settings.moving};
    if (!(key == m_key))
        forget(key);
    // The moving picture repeats once it has moved by its period (the frame width across, two
    // checkerboard squares diagonally), so each shift within the period is compressed once, as
    // long as the compressed frames fit the budget; the decode, the phone's own work with a
    // webcam's frames, runs for every frame.
    const int offset = testPatternOffset(frameNumber, settings);
    const int period = settings.pattern == TestPatternSettings::Checkerboard ? 64 : width;
    const int shift = offset % period;
    auto cached = m_jpegs.find(shift);
    if (cached == m_jpegs.end()) {
        const qsizetype rgbBytes = qsizetype(width) * height * 3;
        if (m_scratch.size() != rgbBytes)
            m_scratch.resize(rgbBytes);
        auto* rgb = reinterpret_cast<uchar*>(m_scratch.data());
        drawTestPattern({width, height, width, height, offset, offset}, frameNumber, settings, rgb);
        QByteArray jpeg = encodeMjpegFrame(rgb, width, height, kTestJpegQuality);
        if (m_jpegBytes + jpeg.size() > kMaxCachedJpegBytes)
            return decodeMjpeg(jpeg, width, height, frame);
        m_jpegBytes += jpeg.size();
        cached = m_jpegs.emplace(shift, std::move(jpeg)).first;
    }
    return decodeMjpeg(cached->second, width, height, frame);
}

const uchar* TestPatternRenderer::drawScene(int width, int height, quint64 frameNumber,
                                            const TestPatternSettings& settings) {
    const qsizetype rgbBytes = qsizetype(width) * height * 3;
    if (m_scratch.size() != rgbBytes)
        m_scratch.resize(rgbBytes);
    auto* rgb = reinterpret_cast<uchar*>(m_scratch.data());
    m_scene.draw(width, height, frameNumber, settings.moving, rgb);
    addTestPatternNoise(rgb, rgbBytes, frameNumber, settings.brightness, settings.noiseLevel);
    return rgb;
}

bool TestPatternRenderer::renderScene(quint32 compression, int width, int height, quint64 frameNumber,
                                      const TestPatternSettings& settings, uchar* frame,
                                      qsizetype frameSize) {
    // Extra noise makes every frame new: those are drawn whole.
    if (settings.noiseLevel > 0)
        return deliver(compression, width, height, settings, drawScene(width, height, frameNumber, settings),
                       frame);
    const Key key{compression, width, height, settings.pattern, settings.brightness, settings.moving};
    if (!(key == m_key))
        forget(key);
    // Frames of one cycle are kept: compressed for Motion JPEG (whose decode, the phone's own
    // work with a webcam's frames, runs for every frame), laid out for the others.
    const int index = int(frameNumber % quint64(TestPatternScene::kCycleFrames));
    if (compression == kFourccMJPG) {
        auto cached = m_jpegs.find(index);
        if (cached == m_jpegs.end()) {
            QByteArray jpeg = encodeMjpegFrame(drawScene(width, height, frameNumber, settings), width, height,
                                               kSceneJpegQuality);
            if (m_jpegBytes + jpeg.size() > kMaxCachedJpegBytes)
                return decodeMjpeg(jpeg, width, height, frame);
            m_jpegBytes += jpeg.size();
            cached = m_jpegs.emplace(index, std::move(jpeg)).first;
        }
        return decodeMjpeg(cached->second, width, height, frame);
    }
    auto cached = m_sceneFrames.find(index);
    if (cached == m_sceneFrames.end()) {
        const uchar* rgb = drawScene(width, height, frameNumber, settings);
        if (m_sceneBytes + frameSize > kMaxCachedSceneBytes)
            return deliver(compression, width, height, settings, rgb, frame);
        QByteArray laidOut(frameSize, Qt::Uninitialized);
        packTestPatternFrame(compression, width, height, rgb, reinterpret_cast<uchar*>(laidOut.data()));
        m_sceneBytes += frameSize;
        cached = m_sceneFrames.emplace(index, std::move(laidOut)).first;
    }
    std::memcpy(frame, cached->second.constData(), std::size_t(frameSize));
    return true;
}

} // namespace talvora
