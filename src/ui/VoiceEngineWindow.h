#pragma once

#include <QWidget>

namespace talvora {

// The hidden window "CCN", 158 by 141, never shown: the last of the program's windows. It holds
// nothing; the voice engine itself (VoiceEngine) belongs to the program.
class VoiceEngineWindow : public QWidget {
    Q_OBJECT

public:
    explicit VoiceEngineWindow(QWidget* parent = nullptr);
};

} // namespace talvora
