#pragma once

#include "call/CallingView.h"

#include <QDialog>

#include <functional>

class QLabel;

namespace talvora {

class RbButton;
class RbPanel;
class RxDice;

// The calling dialog: a borderless 383 x 134 window centred on the main window, with the die,
// the status line and the Cancel button. Created once and reused for every call; between calls
// it is hidden and keeps its status line and the die's state. Besides Cancel and an "Accept"
// (closeDialog) nothing closes it: Escape and the window manager's close are refused.
class CallingDialog : public QDialog, public CallingView {
    Q_OBJECT
public:
    explicit CallingDialog(QWidget* mainWindow = nullptr);

    // What Cancel does (the call session's onCancelClicked).
    void setCancelHandler(std::function<void()> handler) { m_cancelHandler = std::move(handler); }

    // CallingView
    void startAnimation() override;
    void stopAnimation() override;
    void setStatusLine(const QString& text) override;
    void showDialog() override;
    void closeDialog() override;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onCancelClicked();

    std::function<void()> m_cancelHandler;
    RbPanel* m_panel = nullptr;
    QLabel* m_statusLabel = nullptr;
    RbButton* m_cancelButton = nullptr;
    RxDice* m_dice = nullptr;
};

} // namespace talvora
