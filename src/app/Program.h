#pragma once

#include "app/CommandLine.h"

#include <QWidget>

#include <memory>

namespace talvora {

class MainThreadLag;
class MainWindow;
class Phone;
class PhoneAssembly;
class QtMessageService;
class SpeakerVolume;
class VoiceEngine;

// The program: the real services (message boxes, speaker volume, voice engine, cameras,
// notifications, discovery) and the phone with its eight windows built and started over them
// (PhoneAssembly). The main window is the first window: closing it ends the program.
class Program {
public:
    // Raises Error for a --test-camera value it cannot use.
    Program(const CommandLine& options, const QString& programDir);
    ~Program();

    Phone& phone();
    MainWindow& mainWindow();
    QList<QWidget*> windowsInCreationOrder() const;

private:
    std::unique_ptr<QtMessageService> m_messages;
    std::unique_ptr<SpeakerVolume> m_speaker;
    std::unique_ptr<VoiceEngine> m_voice; // outlives the phone and its call session
    std::unique_ptr<PhoneAssembly> m_assembly;
    std::unique_ptr<MainThreadLag> m_lag; // a measurement, when asked for
};

} // namespace talvora
