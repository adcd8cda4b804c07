#include "ui/QtMessageService.h"

#include <QMessageBox>

namespace talvora {

namespace {

int showBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
            QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption, QString(), buttons, parent);
    // Texts in boxes carry host names, file paths and resolver messages: never markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    // The main window stays on top of ordinary windows; its boxes must not open behind it.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec();
}

} // namespace

void QtMessageService::information(const QString& caption, const QString& text) {
    showBox(m_parent, QMessageBox::Information, caption, text, QMessageBox::Ok);
}

void QtMessageService::warning(const QString& caption, const QString& text) {
    showBox(m_parent, QMessageBox::Warning, caption, text, QMessageBox::Ok);
}

void QtMessageService::error(const QString& caption, const QString& text) {
    showBox(m_parent, QMessageBox::Critical, caption, text, QMessageBox::Ok);
}

bool QtMessageService::question(const QString& caption, const QString& text) {
    return showBox(m_parent, QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

} // namespace talvora
