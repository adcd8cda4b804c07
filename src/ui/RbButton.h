#pragma once

#include <QAbstractButton>
#include <QColor>

namespace talvora {

// A rounded, gradient-filled push button with a centred caption. It takes the keyboard focus
// when pressed with the mouse (so an edit box loses it, and commits its text, before the click
// acts), and a focused button is pressed by Enter or Space.
class RbButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit RbButton(const QString& caption = {}, QWidget* parent = nullptr);

    int cornerWidth() const { return m_cornerWidth; }
    void setCornerWidth(int widthPx);
    // Top and bottom of the face's gradient; the pressed face runs the other way.
    void setColors(const QColor& top, const QColor& bottom, const QColor& border, const QColor& text);

    QSize sizeHint() const override;
    // The caption's font: the widget's, made smaller where the caption would not fit between
    // the rounded ends (fonts differ from desktop to desktop), down to 7 pixels.
    QFont captionFont() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int m_cornerWidth = 12;
    QColor m_top = QColor(96, 190, 240);
    QColor m_bottom = QColor(0, 90, 140);
    QColor m_border = Qt::white;
    QColor m_text = Qt::white;
    bool m_hover = false;
};

} // namespace talvora
