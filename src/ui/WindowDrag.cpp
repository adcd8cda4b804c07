#include "ui/WindowDrag.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace talvora {

WindowDrag::WindowDrag(QWidget* window, SystemMove systemMove)
    : QObject(window), m_window(window), m_systemMove(std::move(systemMove)) {
    if (!m_systemMove) {
        m_systemMove = [](QWindow& w) { return w.startSystemMove(); };
    }
}

bool WindowDrag::systemMoveFollows(Qt::MouseButton button) {
    // On X11 the move is asked for with the left button, and the window manager ends it when
    // that button comes up: after a press of another button it never does, and the window would
    // stick to the mouse. A Wayland compositor ends the move when every button is up.
    return button == Qt::LeftButton || QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void WindowDrag::begin(QWidget* source, QPoint globalPos, Qt::MouseButton button) {
    QWindow* handle = m_window->windowHandle();
    if (handle != nullptr && systemMoveFollows(button) && m_systemMove(*handle)) {
        return;
    }
    // The press gives `source` the implicit mouse grab, so its moves and the release come here.
    m_source = source;
    m_offset = globalPos - m_window->frameGeometry().topLeft();
    source->installEventFilter(this);
}

bool WindowDrag::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_source) {
        return false;
    }
    if (event->type() == QEvent::MouseMove) {
        const auto* e = static_cast<QMouseEvent*>(event);
        m_window->move(e->globalPosition().toPoint() - m_offset);
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        m_source->removeEventFilter(this);
        m_source = nullptr;
        return true;
    }
    return false;
}

} // namespace talvora
