#include "ui/WidgetCallView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>

namespace talvora {

QString WidgetCallView::hostText() const {
    return m_controls.edtHostName->text();
}

void WidgetCallView::setHostText(const QString& text) {
    m_controls.edtHostName->setText(text);
}

void WidgetCallView::focusHost() {
    QLineEdit* edit = m_controls.edtHostName;
    if (edit->isEnabled() && edit->isVisible() && edit->focusPolicy() != Qt::NoFocus) {
        edit->setFocus();
    }
}

void WidgetCallView::setCallerLine(const QString& text) {
    m_controls.lblCallerID->setText(text);
}

void WidgetCallView::showIdlePicture() {
    if (m_controls.showIdlePicture) {
        m_controls.showIdlePicture();
    }
}

void WidgetCallView::flashTaskbar() {
    // Marks the window as wanting attention until the user turns to it; the window manager
    // decides how (a flashing taskbar entry on most desktops).
    if (m_controls.mainWindow) {
        QApplication::alert(m_controls.mainWindow, 0);
    }
}

void WidgetCallView::setVideoDestination(const QString& host) {
    if (m_controls.setVideoDestination) {
        m_controls.setVideoDestination(host);
    }
}

} // namespace talvora
