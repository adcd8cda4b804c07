#include "ui/SearchProgressWindow.h"

namespace talvora {

SearchProgressWindow::SearchProgressWindow(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmExport"));
    setWindowTitle(QStringLiteral("Searching For Network Clients..."));
    setFixedSize(306, 125);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
}

} // namespace talvora
