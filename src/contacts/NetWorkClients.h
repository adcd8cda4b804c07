#pragma once

#include <QDialog>

namespace talvora {

// The list of computers found on the local network, 655x375, titled "Online Network Clients".
class TfrmNetworkClients : public QDialog {
    Q_OBJECT
public:
    explicit TfrmNetworkClients(QWidget* parent = nullptr);
};

} // namespace talvora
