#include "ui/QtMessageService.h"

#include <QApplication>
#include <QMessageBox>

namespace talvora {

namespace {

QMessageBox* showBox(QWidget* mainWindow, QMessageBox::Icon icon, const QString& caption, const QString& text,
                     QMessageBox::StandardButtons buttons) {
    // Over the dialog the user is in, if any, so that the window system stacks it on top.
    QWidget* parent =
        QApplication::activeModalWidget() != nullptr ? QApplication::activeModalWidget() : mainWindow;
    auto* box = new QMessageBox(icon, caption, QString(), buttons, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Texts in boxes carry host names, file paths and resolver messages: never markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    // The main window stays on top of ordinary windows; its boxes must not open behind it.
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    // Over the main window when there is one on screen, on its own otherwise (a start-up error).
    box->setWindowModality(parent != nullptr && parent->isVisible() ? Qt::WindowModal : Qt::ApplicationModal);
    box->show();
    return box;
}

} // namespace

void QtMessageService::information(const QString& caption, const QString& text) {
    tell(QMessageBox::Information, caption, text);
}

void QtMessageService::warning(const QString& caption, const QString& text) {
    tell(QMessageBox::Warning, caption, text);
}

void QtMessageService::error(const QString& caption, const QString& text) {
    tell(QMessageBox::Critical, caption, text);
}

// What a box says is said once: the same box again while it is still up (a camera frame that
// fails thirty times a second) adds nothing.
void QtMessageService::tell(int icon, const QString& caption, const QString& text) {
    const QString key = caption + QLatin1Char('\n') + text;
    if (m_onScreen.contains(key)) {
        return;
    }
    m_onScreen.insert(key);
    QMessageBox* box = showBox(m_parent, QMessageBox::Icon(icon), caption, text, QMessageBox::Ok);
    QObject::connect(box, &QMessageBox::finished, box, [this, key] { m_onScreen.remove(key); });
}

void QtMessageService::ask(const QString& caption, const QString& text, std::function<void(bool)> answered) {
    QMessageBox* box =
        showBox(m_parent, QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No);
    QObject::connect(box, &QMessageBox::finished, box,
                     [answered = std::move(answered)](int result) { answered(result == QMessageBox::Yes); });
}

} // namespace talvora
