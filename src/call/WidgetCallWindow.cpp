#include "call/WidgetCallWindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>

namespace talvora {

QString WidgetCallWindow::hostText() const {
    return m_controls.edtHostName->text();
}

void WidgetCallWindow::setHostText(const QString& text) {
    m_controls.edtHostName->setText(text);
}

void WidgetCallWindow::focusHost() {
    QLineEdit* edit = m_controls.edtHostName;
    if (edit->isEnabled() && edit->isVisible() && edit->focusPolicy() != Qt::NoFocus) {
        edit->setFocus();
    }
}

void WidgetCallWindow::setCallerLine(const QString& text) {
    m_controls.lblCallerID->setText(text);
}

void WidgetCallWindow::showIdlePicture() {
    if (m_controls.showIdlePicture) {
        m_controls.showIdlePicture();
    }
}

void WidgetCallWindow::flashTaskbar() {
    // Marks the window as wanting attention until the user turns to it; the window manager
    // decides how (a flashing taskbar entry on most desktops).
    if (m_controls.mainWindow) {
        QApplication::alert(m_controls.mainWindow, 0);
    }
}

void WidgetCallWindow::setVideoDestination(const QString& host) {
    if (m_controls.setVideoDestination) {
        m_controls.setVideoDestination(host);
    }
}

} // namespace talvora
