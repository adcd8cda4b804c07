#pragma once

#include <QByteArray>

#include <array>
#include <memory>

#include "base/ReentrancyGuard.h"
#include "capture/CaptureBackend.h"
#include "capture/FrameTicker.h"
#include "capture/TestCameraOption.h"
#include "capture/TestPattern.h"

namespace talvora {

// A synthetic camera at driver index 0: a moving test pattern or scene in any of the eight frame
// layouts and any size, paced by a FrameTicker at the preview rate. It keeps the format it was
// started with when the program asks for another (like a camera with one mode); its format
// dialog changes it.
class TestCamera final : public CaptureBackend {
public:
    // The ids of the source dialog's controls (CaptureControl::id).
    enum class ControlId : quint32 { Pattern = 1, Brightness = 2, Noise = 3, Moving = 4 };

    TestCamera(TestCameraConfig config, std::unique_ptr<FrameTicker> ticker);
    ~TestCamera() override;

    bool connectDriver(int index) override;
    void disconnectDriver() override;
    bool isConnected() const override { return m_connected; }

    bool getSequenceSetup(CaptureSettings& settings) const override;
    bool setSequenceSetup(const CaptureSettings& settings) override;
    bool getDriverCaps(CaptureDriverCaps& caps) const override;

    QByteArray videoFormat() const override;
    bool setVideoFormat(const QByteArray& formatBlock) override;

    void setPreviewRate(int intervalMs) override;
    bool setPreview(bool on) override;
    bool isPreviewing() const override { return m_previewing; }

    void setFrameCallback(FrameCallback callback) override { m_frameCallback = std::move(callback); }
    void setStatusCallback(StatusCallback callback) override { m_statusCallback = std::move(callback); }

    QList<CaptureControl> controls() const override;
    bool setControl(quint32 id, qint32 value) override;
    QList<CaptureInput> inputs() const override;
    int currentInput() const override { return m_connected ? 0 : -1; }
    bool setInput(int index) override { return m_connected && index == 0; }

    QList<CaptureFormatOption> formatOptions() const override;
    CaptureFormatChoice currentFormatChoice() const override;
    bool applyFormatChoice(const CaptureFormatChoice& choice) override;

    const TestCameraConfig& config() const { return m_config; }
    const TestPatternSettings& patternSettings() const { return m_settings; }
    quint64 framesDelivered() const { return m_frameNumber; }

private:
    void tick();
    void status(StatusId id, const QString& text);

    TestCameraConfig m_config;
    std::unique_ptr<FrameTicker> m_ticker;
    TestPatternSettings m_settings;
    CaptureSettings m_captureSettings;
    bool m_connected = false;
    bool m_previewing = false;
    int m_previewRateMs = 33;
    quint64 m_frameNumber = 0;
    // One frame per nesting level: a handler that runs a nested event loop keeps its frame
    // while the next ticks draw into the others; deeper ticks are dropped.
    std::array<QByteArray, 3> m_frames;
    TestPatternRenderer m_renderer;
    ReentrancyGuard m_ticking;
    FrameCallback m_frameCallback;
    StatusCallback m_statusCallback;
};

} // namespace talvora
