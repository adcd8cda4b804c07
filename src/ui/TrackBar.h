#pragma once

#include <QSlider>

namespace talvora {

// The panel's vertical level slider: minimum at the top, maximum at the bottom, so pulling it
// down makes it louder. Setting the position from code clamps it to the range, redraws and
// always runs the change handler, also when the position does not change: that is how the
// phone applies a level. While the user drags, the handler runs at every movement.
class TrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TrackBar(QWidget* parent = nullptr);

    void setPosition(int position);
    int position() const { return value(); }

signals:
    // The change handler: emitted for every change by the user and for every setPosition.
    void changed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_settingFromCode = false;
};

} // namespace talvora
