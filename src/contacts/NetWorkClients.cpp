#include "contacts/NetWorkClients.h"

namespace talvora {

TfrmNetworkClients::TfrmNetworkClients(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmNetworkClients"));
    setWindowTitle(QStringLiteral("Online Network Clients"));
    setFixedSize(655, 375);
}

} // namespace talvora
