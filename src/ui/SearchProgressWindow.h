#pragma once

#include <QDialog>

class QLabel;

namespace talvora {

class BusyIndicator;

// The search progress window shown while the local network is searched: 306x125, white, on top,
// centred on the screen, with "Searching..." under an animated busy indicator. It has no logic of
// its own: the discovery dialog shows and hides it around each walk.
class SearchProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit SearchProgressWindow(QWidget* parent = nullptr);

    BusyIndicator* indicator() const { return m_indicator; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* m_status = nullptr;
    BusyIndicator* m_indicator = nullptr;
};

} // namespace talvora
