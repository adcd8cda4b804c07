#pragma once

#include <QTimer>
#include <QWidget>

namespace talvora {

// A 32x32 busy indicator: a ring of twelve grey spokes whose darker spokes advance clockwise by
// one spoke every 100 ms while it is shown.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    static constexpr int kSpokes = 12;
    static constexpr int kFrameMs = 100;
    int frame() const { return m_frame; }
    bool animating() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer m_timer;
    int m_frame = 0;
};

} // namespace talvora
