#pragma once

#include <QImage>
#include <QWidget>

namespace talvora {

// The capture window: a child of the preview panel that shows each preview frame, stretched to
// its own size when scaling is on (drawn at its natural size in the top-left corner otherwise).
class CaptureWindow final : public QWidget {
    Q_OBJECT
public:
    explicit CaptureWindow(QWidget* parent);

    void setScale(bool on);
    bool scale() const { return m_scale; }
    void showFrame(const QImage& frame);
    const QImage& currentFrame() const { return m_frame; }
    quint64 framesShown() const { return m_framesShown; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_frame;
    // The frame stretched to the window, made at the first paint after each frame.
    QImage m_scaled;
    bool m_scale = false;
    quint64 m_framesShown = 0;
};

} // namespace talvora
