#include "ui/DiscoveryDialog.h"

namespace talvora {

DiscoveryDialog::DiscoveryDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmNetworkClients"));
    setWindowTitle(QStringLiteral("Online Network Clients"));
    setFixedSize(655, 375);
}

} // namespace talvora
