#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <functional>

class QWidget;
class QWindow;

namespace talvora {

// Moves a frameless window with the mouse. The window system's interactive move is asked first
// (the only way on Wayland, where a program cannot place its own window); where it refuses (no
// window manager, some X servers) the window follows the mouse until the button is released.
class WindowDrag : public QObject {
    Q_OBJECT
public:
    // Asks the window system to move `window` with the mouse; true when it took the move over.
    using SystemMove = std::function<bool(QWindow& window)>;

    explicit WindowDrag(QWidget* window, SystemMove systemMove = {});

    // Starts a move for a press of `button` at `globalPos` on `source`, whatever the button.
    void begin(QWidget* source, QPoint globalPos, Qt::MouseButton button);
    bool isManual() const { return m_source != nullptr; }

    // Whether the window system's move can follow a press of `button` on this platform.
    static bool systemMoveFollows(Qt::MouseButton button);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    SystemMove m_systemMove;
    QPointer<QWidget> m_source;
    QPoint m_offset;
};

} // namespace talvora
