#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>

class QWidget;

namespace talvora {

// Moves a frameless window with the mouse. The window system's interactive move is asked first;
// where it refuses (no window manager, some X servers) the window follows the mouse until the
// button is released.
class WindowDrag : public QObject {
    Q_OBJECT
public:
    explicit WindowDrag(QWidget* window);

    // Starts a move for a press at `globalPos` on `source`, whatever the button.
    void begin(QWidget* source, QPoint globalPos);
    bool isManual() const { return m_source != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    QPointer<QWidget> m_source;
    QPoint m_offset;
};

} // namespace talvora
