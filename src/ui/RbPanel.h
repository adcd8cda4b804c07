#pragma once

#include <QColor>
#include <QWidget>

namespace talvora {

// The blue of the phone's panels (10776320 as the original colour number).
inline const QColor kPanelBlue(0, 111, 164);

// A panel with rounded corners: the surround (outer colour) fills the widget's rectangle, a
// rounded border of `borderWidth` pixels runs inside it, and the face is filled with a plain
// colour or a vertical gradient. `cornerWidth` is the width of the ellipse that rounds a corner.
class RbPanel : public QWidget {
    Q_OBJECT
public:
    explicit RbPanel(QWidget* parent = nullptr);

    int cornerWidth() const { return m_cornerWidth; }
    void setCornerWidth(int widthPx);
    int borderWidth() const { return m_borderWidth; }
    void setBorderWidth(int widthPx);
    QColor color() const { return m_color; }
    void setColor(const QColor& c);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& c);
    QColor outerColor() const { return m_outerColor; }
    void setOuterColor(const QColor& c);
    // A gradient from `top` to `bottom` replaces the plain face; an invalid `top` switches it off.
    void setGradient(const QColor& top, const QColor& bottom);
    bool hasGradient() const { return m_gradientTop.isValid(); }
    bool antialiased() const { return m_antialiased; }
    void setAntialiased(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_cornerWidth = 25;
    int m_borderWidth = 5;
    QColor m_color = kPanelBlue;
    QColor m_borderColor = Qt::white;
    QColor m_outerColor = Qt::white;
    QColor m_gradientTop;
    QColor m_gradientBottom;
    bool m_antialiased = true;
};

} // namespace talvora
