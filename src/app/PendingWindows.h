#pragma once

// Windows whose contents arrive with their features; until then each exists hidden with its
// class name and size, so the program creates all eight windows in their order.
#include <QDialog>
#include <QWidget>

namespace talvora {

class TfrmVideoOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmVideoOptions(QWidget* parent = nullptr) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
        setObjectName(QStringLiteral("frmVideoOptions"));
        setWindowTitle(QStringLiteral("Video Display Options"));
        setFixedSize(298, 184);
    }
};

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
