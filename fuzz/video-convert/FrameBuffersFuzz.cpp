// A driver's format block and a frame, both from the fuzzer: the frame buffers must neither
// crash nor read or write outside their buffers, whatever the block claims.
// Input: 2 bytes little-endian block length, the block, then the frame.
#include "base/MessageService.h"
#include "convert/CaptureFormatSource.h"
#include "convert/FrameBuffers.h"

#include <cstddef>
#include <cstdint>

namespace {

class SilentMessages : public talvora::MessageService {
public:
    void information(const QString&, const QString&) override {}
    void warning(const QString&, const QString&) override {}
    void error(const QString&, const QString&) override {}
    void ask(const QString&, const QString&, std::function<void(bool)> answered) override { answered(false); }
};

class FuzzedFormat : public talvora::CaptureFormatSource {
public:
    bool hasCaptureWindow() const override { return true; }
    bool setVideoFormat(const QByteArray&) override { return false; }
    QByteArray videoFormat() const override { return format; }
    QByteArray format;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t blockBytes = std::min<std::size_t>(data[0] | std::size_t(data[1]) << 8, size - 2);
    SilentMessages messages;
    FuzzedFormat camera;
    camera.format = QByteArray(reinterpret_cast<const char*>(data + 2), qsizetype(blockBytes));
    talvora::FrameBuffers buffers(messages);
    try {
        buffers.initFrameBuffers(camera);
    } catch (const talvora::Error&) {
        return 0;
    }
    const std::uint8_t* frame = data + 2 + blockBytes;
    const qsizetype frameBytes = qsizetype(size - 2 - blockBytes);
    // Twice: the second frame runs on the state the first one left.
    for (int i = 0; i < 2; ++i) {
        const QImage picture = buffers.frameToBitmap(frame, frameBytes);
        if (!picture.isNull() && picture.format() != QImage::Format_RGB888) {
            __builtin_trap();
        }
    }
    return 0;
}
