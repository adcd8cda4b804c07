#include "contacts/IP.h"

namespace talvora {

TfrmIP::TfrmIP(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmIP"));
    setWindowTitle(QStringLiteral("IP Address Book"));
    setFixedSize(497, 412);
}

} // namespace talvora
