#include "capture/CaptureThread.h"

namespace talvora {

CaptureThread::CaptureThread(const Factory& make) : m_thread(QStringLiteral("camera")) {
    // Made there, so that its timers and socket notifiers belong to the camera thread.
    onCameraThread([&] {
        if (make) {
            m_inner = make();
        }
    });
}

CaptureThread::~CaptureThread() {
    onCameraThread([this] { m_inner.reset(); });
}

bool CaptureThread::connectDriver(int index) {
    return onCameraThread([&] { return m_inner && m_inner->connectDriver(index); });
}

void CaptureThread::disconnectDriver() {
    onCameraThread([&] {
        if (m_inner) {
            m_inner->disconnectDriver();
        }
    });
}

bool CaptureThread::isConnected() const {
    return onCameraThread([&] { return m_inner && m_inner->isConnected(); });
}

bool CaptureThread::getSequenceSetup(CaptureSettings& settings) const {
    return onCameraThread([&] { return m_inner && m_inner->getSequenceSetup(settings); });
}

bool CaptureThread::setSequenceSetup(const CaptureSettings& settings) {
    return onCameraThread([&] { return m_inner && m_inner->setSequenceSetup(settings); });
}

bool CaptureThread::getDriverCaps(CaptureDriverCaps& caps) const {
    return onCameraThread([&] { return m_inner && m_inner->getDriverCaps(caps); });
}

QByteArray CaptureThread::videoFormat() const {
    return onCameraThread([&] { return m_inner ? m_inner->videoFormat() : QByteArray(); });
}

bool CaptureThread::setVideoFormat(const QByteArray& formatBlock) {
    return onCameraThread([&] { return m_inner && m_inner->setVideoFormat(formatBlock); });
}

void CaptureThread::setPreviewRate(int intervalMs) {
    onCameraThread([&] {
        if (m_inner) {
            m_inner->setPreviewRate(intervalMs);
        }
    });
}

bool CaptureThread::setPreview(bool on) {
    return onCameraThread([&] { return m_inner && m_inner->setPreview(on); });
}

bool CaptureThread::isPreviewing() const {
    return onCameraThread([&] { return m_inner && m_inner->isPreviewing(); });
}

void CaptureThread::setFrameCallback(FrameCallback callback) {
    // Set there, between two frames: the back end never holds a callback being replaced.
    onCameraThread([&] {
        if (m_inner) {
            m_inner->setFrameCallback(std::move(callback));
        }
    });
}

void CaptureThread::setStatusCallback(StatusCallback callback) {
    StatusCallback home;
    if (callback) {
        home = [this, callback](StatusId id, const QString& text) {
            QMetaObject::invokeMethod(
                &m_home, [callback, id, text] { callback(id, text); }, Qt::QueuedConnection);
        };
    }
    onCameraThread([&] {
        if (m_inner) {
            m_inner->setStatusCallback(std::move(home));
        }
    });
}

void CaptureThread::setDeviceAppearedCallback(DeviceAppearedCallback callback) {
    DeviceAppearedCallback home;
    if (callback) {
        home = [this, callback] { QMetaObject::invokeMethod(&m_home, callback, Qt::QueuedConnection); };
    }
    onCameraThread([&] {
        if (m_inner) {
            m_inner->setDeviceAppearedCallback(std::move(home));
        }
    });
}

QList<CaptureControl> CaptureThread::controls() const {
    return onCameraThread([&] { return m_inner ? m_inner->controls() : QList<CaptureControl>(); });
}

bool CaptureThread::setControl(quint32 id, qint32 value) {
    return onCameraThread([&] { return m_inner && m_inner->setControl(id, value); });
}

QList<CaptureInput> CaptureThread::inputs() const {
    return onCameraThread([&] { return m_inner ? m_inner->inputs() : QList<CaptureInput>(); });
}

QList<CaptureDevice> CaptureThread::devices() const {
    return onCameraThread([&] { return m_inner ? m_inner->devices() : QList<CaptureDevice>(); });
}

QString CaptureThread::devicePath(int index) const {
    return onCameraThread([&] { return m_inner ? m_inner->devicePath(index) : QString(); });
}

int CaptureThread::currentInput() const {
    return onCameraThread([&] { return m_inner ? m_inner->currentInput() : -1; });
}

bool CaptureThread::setInput(int index) {
    return onCameraThread([&] { return m_inner && m_inner->setInput(index); });
}

QList<CaptureFormatOption> CaptureThread::formatOptions() const {
    return onCameraThread([&] { return m_inner ? m_inner->formatOptions() : QList<CaptureFormatOption>(); });
}

CaptureFormatChoice CaptureThread::currentFormatChoice() const {
    return onCameraThread([&] { return m_inner ? m_inner->currentFormatChoice() : CaptureFormatChoice{}; });
}

bool CaptureThread::applyFormatChoice(const CaptureFormatChoice& choice) {
    return onCameraThread([&] { return m_inner && m_inner->applyFormatChoice(choice); });
}

} // namespace talvora
