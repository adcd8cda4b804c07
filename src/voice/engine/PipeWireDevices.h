#pragma once

#include "base/Clock.h"
#include "voice/engine/AudioDevice.h"
#include "voice/engine/AudioFormat.h"
#include "voice/engine/Doorbell.h"
#include "voice/engine/PipeWireConnection.h"
#include "voice/engine/PlaybackBuffer.h"
#include "voice/engine/PlaybackQueue.h"
#include "voice/engine/PulseConnection.h"
#include "voice/engine/SampleRing.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

struct pw_stream;
struct pw_buffer;

namespace talvora::voice {

// The graph's cycle our streams ask for (node.latency), in samples at 48 kHz. The graph runs at
// the smallest quantum its nodes ask for, rounded down to a power of two, so this is also how
// often the microphone's samples reach us and the speaker takes ours; each millisecond of it is
// one of the call's delay, on the way in and on the way out. 256 (5.3 ms) is what PipeWire's
// PulseAudio service asks for ours; 240 would be rounded to 128 (2.7 ms), which a busy machine
// misses (the graph's nodes then report an xrun a cycle and lose samples).
inline constexpr int kPipeWireQuantumSamples = 256;
// The speaker's latency adapts as with libpulse (PlaybackBuffer): 20 ms, growing on underflows up
// to 80 ms. As there, it is the whole of it: our queue holds the target less the quantum the
// graph holds (PipeWireSink::queueLimit).
inline constexpr int kPipeWirePlaybackStartMs = 20;
inline constexpr int kPipeWirePlaybackMaxMs = 80;
// A stream that has not run a cycle for this long is not linked to a device any more (the device
// went and the session manager found none to move it to): the direction gives it up and retries.
inline constexpr int kPipeWireStallMs = 1000;

// Which node a stream goes to: empty for the session manager's default (followed as it changes),
// else a node's name; `monitor` records what a sink plays (tests).
struct PipeWireTarget {
    std::string node;
    bool monitor = false;
};

// One PipeWire stream, 48 kHz mono S16 (the stream's own converter meets the device's format),
// tagged media.role=Communication, linked by the session manager (autoconnect), whose process
// callback runs on the context's real-time data thread and hands its samples to `process` there.
// Counts the cycles, and rings `bell` after each, so the reading or writing thread wakes.
class PipeWireStream {
public:
    using Process = void (*)(void* owner, pw_stream* stream);

    PipeWireStream(std::shared_ptr<PipeWireConnection> connection, Process process, void* owner);
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Creates and connects the stream and waits until it runs. NoDevice when it is refused or
    // nothing links it in time.
    bool open(bool capture, const char* name, const PipeWireTarget& target, AudioProblem& problem);

    // From the reading or writing thread: waits for a cycle after `ticket` (see Doorbell); false
    // once the stream failed, was interrupted, or ran no cycle for kPipeWireStallMs.
    bool waitCycle(std::uint32_t ticket);
    Doorbell& bell() { return m_bell; }
    void interrupt();

private:
    struct Listener;
    void changed(int state); // the loop's thread
    void processed();        // the data thread

    std::shared_ptr<PipeWireConnection> m_connection;
    Process m_process;
    void* m_owner;
    pw_stream* m_stream = nullptr;
    std::unique_ptr<Listener> m_listener;
    Doorbell m_bell;
    std::atomic<int> m_state{0}; // a pw_stream_state
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_interrupted{false};
    std::atomic<std::uint64_t> m_cycles{0};
    std::uint64_t m_cyclesSeen = 0;     // the waiting thread's
    std::int64_t m_stalledSinceMs = -1; // the waiting thread's
};

// A microphone through a native PipeWire stream. The data thread puts each cycle's samples in a
// ring (a second of room; what a stalled reader leaves no room for is dropped and counted);
// read() takes them, waiting on the ring's doorbell.
class PipeWireSource final : public AudioSource {
public:
    static std::unique_ptr<PipeWireSource> open(std::shared_ptr<PipeWireConnection> connection,
                                                const PipeWireTarget& target, AudioProblem& problem);

    int sampleRateHz() const override { return kSampleRateHz; }
    bool read(std::span<std::int16_t> out) override;
    void interrupt() override { m_stream.interrupt(); }
    std::uint64_t droppedSamples() const { return m_dropped.load(); }

private:
    explicit PipeWireSource(std::shared_ptr<PipeWireConnection> connection);
    static void process(void* self, pw_stream* stream);

    SampleRing m_ring;
    std::atomic<std::uint64_t> m_dropped{0};
    PipeWireStream m_stream; // last: its callbacks end before the ring goes
};

// A speaker through a native PipeWire stream: write() queues at most the playback buffer's target
// (PlaybackQueue) and waits for the data thread to take a quantum when it is full; the data
// thread counts an underflow when a quantum finds less than its length queued, and each write
// first applies what the underflows since the last one call for (PlaybackBuffer, on `clock`).
class PipeWireSink final : public AudioSink {
public:
    static std::unique_ptr<PipeWireSink> open(std::shared_ptr<PipeWireConnection> connection,
                                              const PipeWireTarget& target, const Clock& clock,
                                              PlaybackBuffer::Limits buffer, AudioProblem& problem);

    int sampleRateHz() const override { return kSampleRateHz; }
    bool write(std::span<const std::int16_t> samples) override;
    void interrupt() override { m_stream.interrupt(); }
    int bufferMs() const override { return m_buffer.targetMs(); }
    std::uint64_t underflows() const override { return m_queue.underflows(); }
    // The samples our queue holds at most for a target latency: the target less the quantum the
    // stream holds besides (never more than half of the target).
    static std::size_t queueLimit(int targetMs);

private:
    PipeWireSink(std::shared_ptr<PipeWireConnection> connection, const Clock& clock,
                 PlaybackBuffer::Limits buffer);
    static void process(void* self, pw_stream* stream);

    const Clock& m_clock;
    PlaybackBuffer m_buffer; // the writing thread's
    std::uint64_t m_underflowsSeen = 0;
    PlaybackQueue m_queue;
    PipeWireStream m_stream; // last: its callbacks end before the queue goes
};

// The session's default microphone and speaker through PipeWire's own protocol, bypassing its
// PulseAudio service (whose normal-priority main thread hands recorded audio on in bunches).
// Connects when a device is first wanted and again after the daemon went away; devices may be
// opened from any thread. A default source that only records a sink's output is not a
// microphone (see openSource).
class PipeWireBackend final : public AudioBackend {
public:
    // `remote` names the daemon (empty: the session's); `connection`, when given, is one already
    // made to it (the probe that chose this back end). The playback buffer adapts on `clock` (the
    // steady clock when null).
    explicit PipeWireBackend(const Clock* clock = nullptr, std::string remote = {},
                             PipeWireTarget source = {}, PipeWireTarget sink = {},
                             std::shared_ptr<PipeWireConnection> connection = nullptr);

    std::unique_ptr<AudioSource> openSource(AudioProblem& problem) override;
    std::unique_ptr<AudioSink> openSink(AudioProblem& problem) override;

private:
    std::shared_ptr<PipeWireConnection> connection();
    bool defaultSourceIsMonitor();

    SteadyClock m_steadyClock;
    const Clock& m_clock;
    const std::string m_remote;
    const PipeWireTarget m_source;
    const PipeWireTarget m_sink;
    // Guards m_connection and m_pulse: the capture and playback threads reopen devices.
    std::mutex m_mutex;
    std::shared_ptr<PipeWireConnection> m_connection;
    std::shared_ptr<PulseConnection> m_pulse; // PipeWire's PulseAudio service, for the default's kind
};

} // namespace talvora::voice
