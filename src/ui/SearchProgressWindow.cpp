#include "ui/SearchProgressWindow.h"

#include "ui/BusyIndicator.h"

#include <QLabel>
#include <QScreen>
#include <QShowEvent>

namespace talvora {

SearchProgressWindow::SearchProgressWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmExport"));
    setWindowTitle(QStringLiteral("Searching For Network Clients..."));
    setFixedSize(306, 125);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    m_status = new QLabel(QStringLiteral("Searching..."), this);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    m_status->setGeometry(8, 64, 289, 49);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setWordWrap(true);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(32);
    font.setBold(true);
    font.setItalic(true);
    m_status->setFont(font);
    m_status->setStyleSheet(QStringLiteral("color: rgb(0, 111, 164); background: transparent;"));

    m_indicator = new BusyIndicator(this);
    m_indicator->setObjectName(QStringLiteral("RxGIFAnimator1"));
    m_indicator->move(136, 16);
}

void SearchProgressWindow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        if (const QScreen* s = screen()) {
            move(s->availableGeometry().center() - rect().center());
        }
    }
    QDialog::showEvent(event);
}

} // namespace talvora
