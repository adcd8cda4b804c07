#pragma once

#include <QDialog>

namespace talvora {

// The search progress window shown while the local network is searched: 306x125, white, on top.
class SearchProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit SearchProgressWindow(QWidget* parent = nullptr);
};

} // namespace talvora
