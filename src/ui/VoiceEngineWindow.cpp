#include "ui/VoiceEngineWindow.h"

namespace talvora {

VoiceEngineWindow::VoiceEngineWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmCCN"));
    setWindowTitle(QStringLiteral("CCN"));
    resize(158, 141);
}

} // namespace talvora
