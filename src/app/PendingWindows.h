#pragma once

// Windows whose contents arrive with their features; until then each exists hidden with its
// class name and size, so the program creates all eight windows in their order.
#include <QDialog>
#include <QWidget>

namespace talvora {

class TfrmCCN : public QWidget {
    Q_OBJECT
public:
    explicit TfrmCCN(QWidget* parent = nullptr) : QWidget(parent, Qt::Window) {
        setObjectName(QStringLiteral("frmCCN"));
        setWindowTitle(QStringLiteral("CCN"));
        resize(158, 141);
    }
};

} // namespace talvora
