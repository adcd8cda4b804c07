#pragma once

#include "base/Clock.h"
#include "voice/engine/AudioDevice.h"
#include "voice/engine/PlaybackBuffer.h"
#include "voice/engine/PulseConnection.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

struct pa_stream;
struct pa_operation;
struct pa_buffer_attr;

namespace talvora::voice {

// How long any request to the sound server may take before we give up on it.
inline constexpr int kPulseTimeoutMs = 2000;
// Device buffers: 10 ms fragments for recording, so a frame is taken as soon as it is complete.
// For playback the whole latency (PA_STREAM_ADJUST_LATENCY: the output device's share and the
// stream's queue together) starts at kPulsePlaybackStartMs, refilled in 5 ms requests, and
// adapts to the machine (PlaybackBuffer): the server gives the device about
// (target - 2 * request) / 2 of it. Every millisecond of it is a millisecond of the call's delay
// (a fixed 60 ms made 114 ms mouth to ear through two sound servers, 40 ms 81 to 84).
// Prebuffering and the buffer's ceiling are left to the server.
inline constexpr int kPulseRecordFragmentMs = 10;
inline constexpr int kPulsePlaybackStartMs = 20;
inline constexpr int kPulsePlaybackMaxMs = 80;
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

// A playback stream at the device's own rate, tagged media.role=phone, whose buffer adapts to the
// underflows the server reports (PlaybackBuffer, on `clock`): each write first applies what the
// underflows reported since the last one call for.
class PulseSink final : public AudioSink {
public:
    static std::unique_ptr<PulseSink> open(std::shared_ptr<PulseConnection> connection,
                                           const PulseDeviceInfo& device, const char* deviceName,
                                           const Clock& clock, PlaybackBuffer::Limits buffer = {});
    ~PulseSink() override;

    int sampleRateHz() const override { return m_rateHz; }
    bool write(std::span<const std::int16_t> samples) override;
    void interrupt() override;
    int bufferMs() const override { return m_buffer.targetMs(); }
    std::uint64_t underflows() const override { return m_underflows.load(); }
    // The stream's own queue as the server last confirmed it (without the device's share), in
    // bytes: what a change of the target did on the server's side. From any thread.
    std::uint32_t serverQueueBytes() const { return m_serverQueueBytes.load(); }

private:
    PulseSink(std::shared_ptr<PulseConnection> connection, int rateHz, const Clock& clock,
              PlaybackBuffer::Limits buffer);
    // With the loop locked.
    void adaptBuffer();
    pa_buffer_attr attributesFor(int targetMs) const;
    static void underflowed(pa_stream* stream, void* self);
    static void attributesSet(pa_stream* stream, int success, void* self);

    std::shared_ptr<PulseConnection> m_connection;
    pa_stream* m_stream = nullptr;
    int m_rateHz;
    const Clock& m_clock;
    PlaybackBuffer m_buffer;                 // the writing thread's
    int m_appliedMs;                         // the target last asked of the server
    pa_operation* m_pendingChange = nullptr; // cancelled when the sink goes, so no callback outlives it
    std::uint64_t m_underflowsSeen = 0;
    std::atomic<std::uint64_t> m_underflows{0}; // counted on the loop's thread
    std::atomic<std::uint32_t> m_serverQueueBytes{0};
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
    // The playback buffer adapts on `clock` (the steady clock when null).
    explicit PulseAudioBackend(std::string sourceName = kDefaultSource, std::string sinkName = kDefaultSink,
                               const Clock* clock = nullptr);

    std::unique_ptr<AudioSource> openSource(AudioProblem& problem) override;
    std::unique_ptr<AudioSink> openSink(AudioProblem& problem) override;
    void useThreadPriority(std::shared_ptr<ThreadPriority> priority) override;

private:
    std::shared_ptr<PulseConnection> connection();

    std::string m_sourceName;
    std::string m_sinkName;
    SteadyClock m_steadyClock;
    const Clock& m_clock;
    // Guards m_connection and m_priority: the capture and playback threads reopen devices.
    std::mutex m_mutex;
    std::shared_ptr<PulseConnection> m_connection;
    std::shared_ptr<ThreadPriority> m_priority;
};

} // namespace talvora::voice
