#pragma once

#include "voice/engine/AudioDevice.h"
#include "voice/engine/PulseConnection.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

struct pa_stream;

namespace talvora::voice {

// How long any request to the sound server may take before we give up on it.
inline constexpr int kPulseTimeoutMs = 2000;
// Device buffers: 10 ms fragments for recording, so a 20 ms frame is taken as soon as it is
// complete; for playback 40 ms in all, refilled in 5 ms steps. With PA_STREAM_ADJUST_LATENCY the
// server gives the output device about (target - 2 * request) / 2 = 15 ms of it: the device is
// shared with every other program, and a smaller target would drive it (and them) to its
// minimum latency, waking it every half millisecond. A larger one adds its whole size to the
// call's delay (60 ms made 114 ms mouth to ear through two sound servers, 40 ms 81 to 84).
// Prebuffering and the buffer's ceiling are left to the server.
inline constexpr int kPulseRecordFragmentMs = 10;
inline constexpr int kPulsePlaybackTargetMs = 40;
inline constexpr int kPulsePlaybackRequestMs = 5;

// A recording stream at the device's own rate, tagged media.role=phone. read() blocks on the
// stream's data with the main loop's condition; interrupt() wakes it.
class PulseSource final : public AudioSource {
public:
    // Null when the device cannot be opened.
    // `device` gives the rate; the stream goes to `deviceName`, or where the server routes it when
    // null.
    static std::unique_ptr<PulseSource> open(std::shared_ptr<PulseConnection> connection,
                                             const PulseDeviceInfo& device, const char* deviceName);
    ~PulseSource() override;

    int sampleRateHz() const override { return m_rateHz; }
    bool read(std::span<std::int16_t> out) override;
    void interrupt() override;

private:
    PulseSource(std::shared_ptr<PulseConnection> connection, int rateHz);

    std::shared_ptr<PulseConnection> m_connection;
    pa_stream* m_stream = nullptr;
    int m_rateHz;
    std::atomic<bool> m_interrupted{false};
    // The unread tail of the last fragment (read thread only).
    std::array<std::uint8_t, 32768> m_pending{};
    std::size_t m_pendingBytes = 0;
    std::size_t m_pendingOffset = 0;
};

// A playback stream at the device's own rate, tagged media.role=phone.
class PulseSink final : public AudioSink {
public:
    static std::unique_ptr<PulseSink> open(std::shared_ptr<PulseConnection> connection,
                                           const PulseDeviceInfo& device, const char* deviceName);
    ~PulseSink() override;

    int sampleRateHz() const override { return m_rateHz; }
    bool write(std::span<const std::int16_t> samples) override;
    void interrupt() override;

private:
    PulseSink(std::shared_ptr<PulseConnection> connection, int rateHz);

    std::shared_ptr<PulseConnection> m_connection;
    pa_stream* m_stream = nullptr;
    int m_rateHz;
    std::atomic<bool> m_interrupted{false};
};

inline constexpr const char* kDefaultSource = "@DEFAULT_SOURCE@";
inline constexpr const char* kDefaultSink = "@DEFAULT_SINK@";

// The sound server's default microphone and output. Connects when a device is first wanted and
// again after the server went away. Streams on the defaults are left to the server's routing
// (see deviceName in the source). Devices may be opened from any thread. A default source that only records a
// sink's output is not a microphone: sending it would echo the peer back to them.
class PulseAudioBackend final : public AudioBackend {
public:
    // `sourceName`/`sinkName` select devices other than the defaults (tests record a monitor).
    explicit PulseAudioBackend(std::string sourceName = kDefaultSource, std::string sinkName = kDefaultSink);

    std::unique_ptr<AudioSource> openSource(AudioProblem& problem) override;
    std::unique_ptr<AudioSink> openSink(AudioProblem& problem) override;
    void useThreadPriority(std::shared_ptr<ThreadPriority> priority) override;

private:
    std::shared_ptr<PulseConnection> connection();

    std::string m_sourceName;
    std::string m_sinkName;
    // Guards m_connection and m_priority: the capture and playback threads reopen devices.
    std::mutex m_mutex;
    std::shared_ptr<PulseConnection> m_connection;
    std::shared_ptr<ThreadPriority> m_priority;
};

} // namespace talvora::voice
