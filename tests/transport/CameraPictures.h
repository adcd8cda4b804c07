#pragma once

#include "capture/TestCameraOption.h"
#include "capture/TestPattern.h"
#include "convert/FrameBuffers.h"

#include "convert/FakeCaptureFormatSource.h"
#include "support/FakeMessageService.h"

#include <QByteArray>
#include <QImage>

namespace talvora::test {

// The pictures a phone makes of the test camera's frames, the way the phone makes them: the
// camera's frame (for Motion JPEG, compressed and decoded as a webcam's) through the frame
// buffers into a 24-bit picture. `option` is the --test-camera value, e.g. "YUY2:384x288:scene".
class CameraPictures {
public:
    explicit CameraPictures(const QString& option) : m_config(parseTestCameraOption(option)) {
        m_settings.pattern = m_config.pattern;
        m_format.format = testPatternFormatBlock(m_config.compression, m_config.width, m_config.height);
        m_frames.readCaptureFormat(m_format);
        m_frame =
            QByteArray(testPatternFrameSize(m_config.compression, m_config.width, m_config.height), '\0');
    }

    // The picture of camera frame `n`.
    QImage picture(quint64 n) {
        auto* data = reinterpret_cast<uchar*>(m_frame.data());
        if (!m_renderer.render(m_config.compression, m_config.width, m_config.height, n, m_settings, data,
                               m_frame.size()))
            return {};
        return m_frames.frameToBitmap(data, m_frame.size()).copy();
    }

    const TestCameraConfig& config() const { return m_config; }

private:
    TestCameraConfig m_config;
    TestPatternSettings m_settings;
    TestPatternRenderer m_renderer;
    FakeMessageService m_messages;
    FakeCaptureFormatSource m_format;
    FrameBuffers m_frames{m_messages};
    QByteArray m_frame;
};

} // namespace talvora::test
