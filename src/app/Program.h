#pragma once

#include "app/CommandLine.h"

#include <QWidget>

#include <memory>

namespace talvora {

class FrameBuffers;
class QtMessageService;
class MainWindow;
class CaptureController;
class SpeakerVolume;
class NetworkSource;
class ServicePublisher;

// The eight windows of the program, created hidden in their fixed order at start and living
// until the program ends. The main window is the first: closing it ends the program.
class Program {
public:
    // Raises Error for a --test-camera value it cannot use.
    Program(const CommandLine& options, const QString& programDir);
    ~Program();

    MainWindow& mainWindow() { return *m_main; }
    // The phone's announcement on the local network; the call wiring sets it busy and free.
    ServicePublisher& servicePublisher() { return *m_publisher; }
    QList<QWidget*> windowsInCreationOrder() const { return m_windows; }

private:
    class VoiceFactoryProxy;

    std::unique_ptr<QtMessageService> m_messages;
    std::unique_ptr<SpeakerVolume> m_speaker;
    std::unique_ptr<VoiceFactoryProxy> m_voiceProxy;
    std::unique_ptr<CaptureController> m_videoCap;
    std::unique_ptr<FrameBuffers> m_frames;
    std::unique_ptr<NetworkSource> m_networkSource;
    std::unique_ptr<ServicePublisher> m_publisher;
    std::unique_ptr<MainWindow> m_main;
    QList<QWidget*> m_windows;
    std::vector<std::unique_ptr<QWidget>> m_owned;
};

} // namespace talvora
