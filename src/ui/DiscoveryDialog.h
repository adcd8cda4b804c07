#pragma once

#include <QDialog>

namespace talvora {

// The list of computers found on the local network, 655x375, titled "Online Network Clients".
class DiscoveryDialog : public QDialog {
    Q_OBJECT
public:
    explicit DiscoveryDialog(QWidget* parent = nullptr);
};

} // namespace talvora
