#pragma once

#include "base/HostResolver.h"
#include "base/NetworkConfig.h"
#include "capture/CaptureBackend.h"
#include "settings/ConfigLocation.h"

#include <functional>
#include <memory>

namespace talvora {

class CallNotifier;
class NetworkSource;
class ServicePublisher;

class MessageService;
class RingTimer;
class RingTonePlayer;
class SpeakerVolume;
class VoiceSessionFactory;

// Everything a phone is built from: the services it uses and where it lives on the network and
// on disk. The program passes the real ones; tests pass fakes. References must outlive the phone.
struct PhoneServices {
    MessageService& messages;
    SpeakerVolume& speaker;                                           // the machine's output volume
    std::function<std::unique_ptr<CaptureBackend>()> captureBackends; // of each new capture window
    VoiceSessionFactory& voice;                                       // the voice of each call
    std::function<std::unique_ptr<RingTonePlayer>()> ringTones;
    std::function<std::unique_ptr<RingTimer>()> ringTimers;
    NetworkConfig network;
    ConfigLocation config;
    // Desktop notifications of incoming calls; none when this is empty.
    std::function<std::unique_ptr<CallNotifier>()> notifiers = {};
    // The phones and computers "Who's Online?" lists; a network with nothing on it when empty.
    std::function<std::unique_ptr<NetworkSource>()> networkSources = {};
    // The phone's announcement on the local network under its caller ID; none when empty.
    std::function<std::unique_ptr<ServicePublisher>(const QString& callerId)> publishers = {};
    // How a dialled name is looked up; the system resolver alone when empty. The program adds
    // multicast DNS, so that the ".local" names "Who's Online?" lists can be called.
    HostLookup lookup = {};
};

} // namespace talvora
