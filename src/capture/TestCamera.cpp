#include "capture/TestCamera.h"

#include <algorithm>

namespace talvora {

namespace {

const quint32 kKinds[] = {kBiRgb,      kFourccYUY2, kFourccUYVY, kFourccY41P, kFourccYVU9,
                          kFourccI420, kFourccY8,   kFourccY211, kFourccMJPG};

const struct {
    int width;
    int height;
} kSizes[] = {{160, 120}, {176, 144}, {320, 240}, {352, 288},
              {384, 288}, {640, 480}, {800, 600}, {1280, 720}};

QString formatText(const TestCameraConfig& config) {
    return QStringLiteral("Video format %1 %2x%3")
        .arg(testPatternKindName(config.compression))
        .arg(config.width)
        .arg(config.height);
}

} // namespace

TestCamera::TestCamera(TestCameraConfig config, std::unique_ptr<FrameTicker> ticker)
    : m_config(config), m_ticker(std::move(ticker)) {
    if (testPatternFrameSize(m_config.compression, m_config.width, m_config.height) == 0)
        m_config = TestCameraConfig{};
    m_settings.pattern = m_config.pattern;
    m_ticker->setCallback([this] { tick(); });
}

TestCamera::~TestCamera() {
    m_statusCallback = nullptr;
    m_ticker->stop();
}

void TestCamera::status(StatusId id, const QString& text) {
    if (const StatusCallback callback = m_statusCallback)
        callback(id, text);
}

bool TestCamera::connectDriver(int index) {
    disconnectDriver();
    if (index != 0)
        return false;
    m_connected = true;
    m_captureSettings = CaptureSettings{};
    status(StatusId::Connected, QStringLiteral("Connected to the test camera"));
    status(StatusId::Format, formatText(m_config));
    return true;
}

void TestCamera::disconnectDriver() {
    setPreview(false);
    m_connected = false;
}

bool TestCamera::getSequenceSetup(CaptureSettings& settings) const {
    if (!m_connected)
        return false;
    settings = m_captureSettings;
    return true;
}

bool TestCamera::setSequenceSetup(const CaptureSettings& settings) {
    if (!m_connected)
        return false;
    m_captureSettings = settings;
    return true;
}

bool TestCamera::getDriverCaps(CaptureDriverCaps& caps) const {
    if (!m_connected)
        return false;
    caps = CaptureDriverCaps{};
    caps.hasSourceDialog = true;
    caps.hasFormatDialog = true;
    return true;
}

QByteArray TestCamera::videoFormat() const {
    return m_connected ? testPatternFormatBlock(m_config.compression, m_config.width, m_config.height)
                       : QByteArray();
}

bool TestCamera::setVideoFormat(const QByteArray& formatBlock) {
    if (!m_connected)
        return false;
    return formatBlock.size() >= qsizetype(sizeof(BitmapInfoHeader)) && formatBlock.left(40) == videoFormat();
}

void TestCamera::setPreviewRate(int intervalMs) {
    m_previewRateMs = std::clamp(intervalMs, 1, 10000);
    if (m_previewing)
        m_ticker->start(m_previewRateMs);
}

bool TestCamera::setPreview(bool on) {
    if (!on) {
        m_ticker->stop();
        m_previewing = false;
        return true;
    }
    if (!m_connected)
        return false;
    if (!m_previewing)
        m_ticker->start(m_previewRateMs);
    m_previewing = true;
    return true;
}

void TestCamera::tick() {
    if (!m_previewing || m_ticking.depth() >= int(m_frames.size()))
        return;
    QByteArray& frame = m_frames[std::size_t(m_ticking.depth())];
    const qsizetype size = testPatternFrameSize(m_config.compression, m_config.width, m_config.height);
    if (frame.size() != size)
        frame = QByteArray(size, '\0');
    auto* data = reinterpret_cast<uchar*>(frame.data());
    if (!m_renderer.render(m_config.compression, m_config.width, m_config.height, m_frameNumber, m_settings,
                           data, size))
        return;
    ++m_frameNumber;
    const ReentrancyGuard::Entry entry(m_ticking);
    // A copy, so that a handler clearing the callback does not destroy the one running.
    if (const FrameCallback callback = m_frameCallback)
        callback(data, size);
}

QList<CaptureControl> TestCamera::controls() const {
    if (!m_connected)
        return {};
    CaptureControl pattern;
    pattern.id = quint32(ControlId::Pattern);
    pattern.kind = CaptureControl::Kind::Menu;
    pattern.name = QStringLiteral("Pattern");
    pattern.maximum = 3;
    pattern.value = m_settings.pattern;
    pattern.menu = {{0, QStringLiteral("Colour bars")},
                    {1, QStringLiteral("Gradient")},
                    {2, QStringLiteral("Checkerboard")},
                    {3, QStringLiteral("Scene")}};

    CaptureControl brightness;
    brightness.id = quint32(ControlId::Brightness);
    brightness.name = QStringLiteral("Brightness");
    brightness.minimum = -64;
    brightness.maximum = 64;
    brightness.value = m_settings.brightness;

    CaptureControl noise;
    noise.id = quint32(ControlId::Noise);
    noise.name = QStringLiteral("Noise level");
    noise.maximum = 100;
    noise.value = m_settings.noiseLevel;

    CaptureControl moving;
    moving.id = quint32(ControlId::Moving);
    moving.kind = CaptureControl::Kind::Boolean;
    moving.name = QStringLiteral("Moving picture");
    moving.maximum = 1;
    moving.defaultValue = 1;
    moving.value = m_settings.moving ? 1 : 0;
    return {pattern, brightness, noise, moving};
}

bool TestCamera::setControl(quint32 id, qint32 value) {
    if (!m_connected)
        return false;
    const auto inRange = [&](qint32 low, qint32 high) { return value >= low && value <= high; };
    switch (ControlId(id)) {
    case ControlId::Pattern:
        if (!inRange(0, 3))
            return false;
        m_settings.pattern = value;
        return true;
    case ControlId::Brightness:
        if (!inRange(-64, 64))
            return false;
        m_settings.brightness = value;
        return true;
    case ControlId::Noise:
        if (!inRange(0, 100))
            return false;
        m_settings.noiseLevel = value;
        return true;
    case ControlId::Moving:
        if (!inRange(0, 1))
            return false;
        m_settings.moving = value != 0;
        return true;
    default:
        return false;
    }
}

QList<CaptureInput> TestCamera::inputs() const {
    if (!m_connected)
        return {};
    return {{0, QStringLiteral("Test pattern")}};
}

QList<CaptureFormatOption> TestCamera::formatOptions() const {
    QList<CaptureFormatOption> options;
    if (!m_connected)
        return options;
    for (quint32 kind : kKinds) {
        CaptureFormatOption option;
        option.code = kind;
        option.name = testPatternKindName(kind);
        bool hasCurrent = false;
        for (const auto& size : kSizes) {
            option.sizes.append({size.width, size.height, {FrameInterval{1, 30}}});
            hasCurrent = hasCurrent || (size.width == m_config.width && size.height == m_config.height);
        }
        // The size given on the command line stays selectable.
        if (!hasCurrent)
            option.sizes.append({m_config.width, m_config.height, {FrameInterval{1, 30}}});
        options.append(option);
    }
    return options;
}

CaptureFormatChoice TestCamera::currentFormatChoice() const {
    return {m_config.compression, m_config.width, m_config.height, FrameInterval{1, 30}};
}

bool TestCamera::applyFormatChoice(const CaptureFormatChoice& choice) {
    if (!m_connected || testPatternFrameSize(choice.code, choice.width, choice.height) == 0)
        return false;
    m_config = {choice.code, choice.width, choice.height, m_config.pattern};
    status(StatusId::Format, formatText(m_config));
    return true;
}

} // namespace talvora
