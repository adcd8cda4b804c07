#pragma once

#include "call/CallView.h"

#include <functional>

class QLabel;
class QLineEdit;
class QWidget;

namespace talvora {

// The call session's view of the main window, over its controls.
struct CallViewControls {
    QWidget* mainWindow = nullptr; // flashed in the taskbar when a call rings
    QLineEdit* edtHostName = nullptr;
    QLabel* lblCallerID = nullptr;
    std::function<void()> showIdlePicture;                        // Image12 back into Image1
    std::function<void(const QString& host)> setVideoDestination; // UDPClient1's remote host
};

class WidgetCallView final : public CallView {
public:
    explicit WidgetCallView(CallViewControls controls) : m_controls(std::move(controls)) {}

    QString hostText() const override;
    void setHostText(const QString& text) override;
    void focusHost() override;
    void setCallerLine(const QString& text) override;
    void showIdlePicture() override;
    void flashTaskbar() override;
    void setVideoDestination(const QString& host) override;

private:
    CallViewControls m_controls;
};

} // namespace talvora
