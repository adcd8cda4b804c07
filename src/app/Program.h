#pragma once

#include "app/CommandLine.h"

#include <QWidget>

#include <memory>

namespace talvora {

class MainWindow;
class Phone;
class PhoneAssembly;
class QtMessageService;
class SpeakerVolume;

// The eight windows of the program, created hidden in their fixed order at start and living
// until the program ends: the phone's windows (PhoneAssembly) and, last, the voice engine's host.
// The main window is the first: closing it ends the program.
class Program {
public:
    // Raises Error for a --test-camera value it cannot use.
    Program(const CommandLine& options, const QString& programDir);
    ~Program();

    Phone& phone();
    MainWindow& mainWindow();
    QList<QWidget*> windowsInCreationOrder() const;

private:
    class VoiceFactoryProxy;

    std::unique_ptr<QtMessageService> m_messages;
    std::unique_ptr<SpeakerVolume> m_speaker;
    std::unique_ptr<VoiceFactoryProxy> m_voiceProxy;
    std::unique_ptr<PhoneAssembly> m_assembly;
};

} // namespace talvora
