#include "ui/WindowDrag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace talvora {

WindowDrag::WindowDrag(QWidget* window) : QObject(window), m_window(window) {}

void WindowDrag::begin(QWidget* source, QPoint globalPos) {
    QWindow* handle = m_window->windowHandle();
    if (handle != nullptr && handle->startSystemMove()) {
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
