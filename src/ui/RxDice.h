#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

namespace talvora {

// The face after `current` when the random draw gave `drawn` (both 1..6): the drawn face, but
// never the one on show, so every tick changes the picture (the face one lower instead, or 2
// when face 1 is on show).
int nextDieFace(int current, int drawn);

// An animated die: one of six faces, drawn by us. While rotating it shows a new face every 60 ms.
// Stopping only marks it still: the next tick shows one more face, then the timer ends.
class RxDice : public QWidget {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 60;

    explicit RxDice(QWidget* parent = nullptr);

    int value() const { return m_face; }
    void setValue(int face); // 1..6, others are ignored
    bool rotating() const { return m_rotating; }
    void setRotate(bool on);
    bool timerActive() const { return m_timer.isActive(); }

    // One tick of the animation timer; public so that the face rule can be driven without time.
    void tick();
    // Replaces the random draw (1..6); by default a generator seeded from the clock at creation.
    void setRandomSource(std::function<int()> draw) { m_draw = std::move(draw); }

    QSize sizeHint() const override { return {66, 66}; }

signals:
    void faceChanged(int face);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    std::function<int()> m_draw;
    int m_face = 1;
    bool m_rotating = false;
};

} // namespace talvora
