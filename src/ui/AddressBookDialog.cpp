#include "ui/AddressBookDialog.h"

namespace talvora {

AddressBookDialog::AddressBookDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmIP"));
    setWindowTitle(QStringLiteral("IP Address Book"));
    setFixedSize(497, 412);
}

} // namespace talvora
