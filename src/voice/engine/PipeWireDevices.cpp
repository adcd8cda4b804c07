#include "voice/engine/PipeWireDevices.h"

#include "base/Clock.h"
#include "voice/engine/PulseAudioDevices.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <array>
#include <string>

namespace talvora::voice {

namespace {

constexpr const char* kApplicationName = "Talvora Video Phone";
// How long a waiting thread sleeps before it looks at the stream's state again.
constexpr int kWaitSliceMs = 100;
// A second and more of the microphone: only a reader stalled that long loses any.
constexpr std::size_t kCaptureRingSamples = 65536;
// The speaker's queue at its largest target, and a received frame besides.
constexpr std::size_t kPlaybackRingSamples = 8192;

// The stall check's clock; the stream has no other.
const SteadyClock kStallClock;

} // namespace

std::size_t PipeWireSink::queueLimit(int targetMs) {
    const std::size_t target = samplesFor(targetMs);
    return target - std::min<std::size_t>(kPipeWireQuantumSamples, target / 2);
}

struct PipeWireStream::Listener {
    spa_hook hook{};

    static void stateChanged(void* self, pw_stream_state, pw_stream_state state, const char*) {
        static_cast<PipeWireStream*>(self)->changed(state);
    }
    static void processed(void* self) { static_cast<PipeWireStream*>(self)->processed(); }

    static const pw_stream_events& events() {
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = stateChanged;
            e.process = processed;
            return e;
        }();
        return events;
    }
};

PipeWireStream::PipeWireStream(std::shared_ptr<PipeWireConnection> connection, Process process, void* owner)
    : m_connection(std::move(connection)), m_process(process), m_owner(owner),
      m_listener(std::make_unique<Listener>()) {}

PipeWireStream::~PipeWireStream() {
    if (m_stream != nullptr) {
        // Destroying the stream takes its node off the data thread first: no callback runs after.
        ThreadLoopLock lock(m_connection->loop());
        spa_hook_remove(&m_listener->hook);
        pw_stream_destroy(m_stream);
    }
}

bool PipeWireStream::open(bool capture, const char* name, const PipeWireTarget& target,
                          AudioProblem& problem) {
    problem = AudioProblem::NoDevice;
    ThreadLoopLock lock(m_connection->loop());
    if (!m_connection->alive()) {
        problem = AudioProblem::NoServer;
        return false;
    }
    const std::string latency = std::to_string(kPipeWireQuantumSamples) + "/" + std::to_string(kSampleRateHz);
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, capture ? "Capture" : "Playback",
        PW_KEY_MEDIA_ROLE, "Communication", PW_KEY_APP_NAME, kApplicationName, PW_KEY_NODE_NAME,
        kApplicationName, PW_KEY_NODE_DESCRIPTION, name, PW_KEY_NODE_LATENCY, latency.c_str(), nullptr);
    if (!target.node.empty()) {
        pw_properties_set(props, PW_KEY_TARGET_OBJECT, target.node.c_str());
    }
    if (target.monitor) {
        pw_properties_set(props, PW_KEY_STREAM_CAPTURE_SINK, "true");
    }
    m_stream = pw_stream_new(m_connection->core(), name, props);
    if (m_stream == nullptr) {
        return false;
    }
    pw_stream_add_listener(m_stream, &m_listener->hook, &Listener::events(), this);

    std::array<std::uint8_t, 1024> podBuffer{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podBuffer.data(), podBuffer.size());
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_S16;
    info.rate = kSampleRateHz;
    info.channels = 1;
    info.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                    PW_STREAM_FLAG_RT_PROCESS);
    if (pw_stream_connect(m_stream, capture ? SPA_DIRECTION_INPUT : SPA_DIRECTION_OUTPUT, PW_ID_ANY, flags,
                          params, 1) < 0) {
        return false;
    }
    // Running means linked to a device: the session manager refuses a stream it has no device
    // for with an error, which ends the wait at once.
    const bool running = m_connection->waitLocked(
        [this] { return m_state.load() == PW_STREAM_STATE_STREAMING || m_failed.load(); },
        kPipeWireTimeoutMs);
    if (!m_connection->alive()) {
        problem = AudioProblem::NoServer;
        return false;
    }
    if (!running || m_failed.load()) {
        return false;
    }
    problem = AudioProblem::None;
    return true;
}

void PipeWireStream::changed(int state) {
    m_state.store(state);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        m_failed.store(true);
    }
    pw_thread_loop_signal(m_connection->loop(), false);
    m_bell.ring();
}

void PipeWireStream::processed() {
    // The data thread: no allocation, no lock, no system call but the doorbell's wake-up.
    m_process(m_owner, m_stream);
    m_cycles.fetch_add(1, std::memory_order_relaxed);
    m_bell.ring();
}

bool PipeWireStream::waitCycle(std::uint32_t ticket) {
    if (m_interrupted.load() || m_failed.load() || !m_connection->alive()) {
        return false;
    }
    m_bell.wait(ticket, kWaitSliceMs);
    if (m_interrupted.load() || m_failed.load() || !m_connection->alive()) {
        return false;
    }
    const std::uint64_t cycles = m_cycles.load(std::memory_order_relaxed);
    const std::int64_t nowMs = kStallClock.nowMs();
    if (cycles != m_cyclesSeen || m_stalledSinceMs < 0) {
        m_cyclesSeen = cycles;
        m_stalledSinceMs = nowMs;
        return true;
    }
    return nowMs - m_stalledSinceMs < kPipeWireStallMs;
}

void PipeWireStream::interrupt() {
    m_interrupted.store(true);
    m_bell.ring();
}

PipeWireSource::PipeWireSource(std::shared_ptr<PipeWireConnection> connection)
    : m_ring(kCaptureRingSamples), m_stream(std::move(connection), process, this) {}

std::unique_ptr<PipeWireSource> PipeWireSource::open(std::shared_ptr<PipeWireConnection> connection,
                                                     const PipeWireTarget& target, AudioProblem& problem) {
    std::unique_ptr<PipeWireSource> source(new PipeWireSource(std::move(connection)));
    if (!source->m_stream.open(true, "Voice call microphone", target, problem)) {
        return nullptr;
    }
    return source;
}

void PipeWireSource::process(void* self, pw_stream* stream) {
    auto* source = static_cast<PipeWireSource*>(self);
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (buffer == nullptr) {
        return;
    }
    const spa_data* data = buffer->buffer->n_datas > 0 ? &buffer->buffer->datas[0] : nullptr;
    if (data != nullptr && data->data != nullptr && data->chunk != nullptr) {
        // The chunk as the graph filled it, kept inside the mapped memory whatever it says.
        const std::uint32_t offset = std::min(data->chunk->offset, data->maxsize);
        const std::uint32_t bytes = std::min(data->chunk->size, data->maxsize - offset);
        const std::span<const std::int16_t> samples(
            reinterpret_cast<const std::int16_t*>(static_cast<const std::uint8_t*>(data->data) + offset),
            bytes / sizeof(std::int16_t));
        const std::size_t taken = source->m_ring.write(samples);
        if (taken < samples.size()) {
            source->m_dropped.fetch_add(samples.size() - taken, std::memory_order_relaxed);
        }
    }
    pw_stream_queue_buffer(stream, buffer);
}

bool PipeWireSource::read(std::span<std::int16_t> out) {
    std::size_t got = 0;
    for (;;) {
        const std::uint32_t ticket = m_stream.bell().ticket();
        got += m_ring.read(out.subspan(got));
        if (got == out.size()) {
            return true;
        }
        if (!m_stream.waitCycle(ticket)) {
            return false;
        }
    }
}

PipeWireSink::PipeWireSink(std::shared_ptr<PipeWireConnection> connection, const Clock& clock,
                           PlaybackBuffer::Limits buffer)
    : m_clock(clock), m_buffer(buffer, clock.nowMs()), m_queue(kPlaybackRingSamples),
      m_stream(std::move(connection), process, this) {
    m_queue.setStartLevel(queueLimit(m_buffer.targetMs()));
}

std::unique_ptr<PipeWireSink> PipeWireSink::open(std::shared_ptr<PipeWireConnection> connection,
                                                 const PipeWireTarget& target, const Clock& clock,
                                                 PlaybackBuffer::Limits buffer, AudioProblem& problem) {
    std::unique_ptr<PipeWireSink> sink(new PipeWireSink(std::move(connection), clock, buffer));
    if (!sink->m_stream.open(false, "Voice call speaker", target, problem)) {
        return nullptr;
    }
    return sink;
}

void PipeWireSink::process(void* self, pw_stream* stream) {
    auto* sink = static_cast<PipeWireSink*>(self);
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (buffer == nullptr) {
        return;
    }
    spa_data* data = buffer->buffer->n_datas > 0 ? &buffer->buffer->datas[0] : nullptr;
    if (data != nullptr && data->data != nullptr && data->chunk != nullptr) {
        std::size_t samples = data->maxsize / sizeof(std::int16_t);
        if (buffer->requested > 0) {
            // The graph asks for its quantum (after its converter's resampling, if any).
            samples = std::min<std::size_t>(samples, buffer->requested);
        }
        sink->m_queue.fill(std::span(static_cast<std::int16_t*>(data->data), samples));
        data->chunk->offset = 0;
        data->chunk->stride = sizeof(std::int16_t);
        data->chunk->size = static_cast<std::uint32_t>(samples * sizeof(std::int16_t));
    }
    pw_stream_queue_buffer(stream, buffer);
}

bool PipeWireSink::write(std::span<const std::int16_t> samples) {
    const std::int64_t nowMs = m_clock.nowMs();
    for (const std::uint64_t underflows = m_queue.underflows(); m_underflowsSeen < underflows;
         ++m_underflowsSeen) {
        m_buffer.underflow(nowMs);
    }
    const std::size_t limit = queueLimit(m_buffer.targetAt(nowMs));
    m_queue.setStartLevel(limit);
    while (!samples.empty()) {
        const std::uint32_t ticket = m_stream.bell().ticket();
        samples = samples.subspan(m_queue.offer(samples, limit));
        if (!samples.empty() && !m_stream.waitCycle(ticket)) {
            return false;
        }
    }
    return true;
}

PipeWireBackend::PipeWireBackend(const Clock* clock, std::string remote, PipeWireTarget source,
                                 PipeWireTarget sink, std::shared_ptr<PipeWireConnection> connection)
    : m_clock(clock != nullptr ? *clock : m_steadyClock), m_remote(std::move(remote)),
      m_source(std::move(source)), m_sink(std::move(sink)), m_connection(std::move(connection)) {}

std::shared_ptr<PipeWireConnection> PipeWireBackend::connection() {
    std::lock_guard lock(m_mutex);
    if (!m_connection || !m_connection->alive()) {
        m_connection = PipeWireConnection::connect(m_remote, kPipeWireTimeoutMs);
    }
    return m_connection;
}

bool PipeWireBackend::defaultSourceIsMonitor() {
    std::lock_guard lock(m_mutex);
    if (m_pulse) {
        MainloopLock loopLock(m_pulse->mainloop());
        if (!m_pulse->ready()) {
            m_pulse.reset();
        }
    }
    if (!m_pulse) {
        m_pulse = PulseConnection::connect(kApplicationName, kPulseTimeoutMs);
    }
    if (!m_pulse) {
        return false;
    }
    MainloopLock loopLock(m_pulse->mainloop());
    const auto info = querySourceLocked(*m_pulse, kDefaultSource, kPulseTimeoutMs);
    return info && info->isMonitor;
}

std::unique_ptr<AudioSource> PipeWireBackend::openSource(AudioProblem& problem) {
    auto conn = connection();
    if (!conn) {
        problem = AudioProblem::NoServer;
        return nullptr;
    }
    // Without a microphone the session manager makes a sink the default source and links a
    // capture stream to its monitor: sending that would echo the peer back to them. PipeWire's
    // PulseAudio service, where it runs, says what the default source is.
    if (m_source.node.empty() && defaultSourceIsMonitor()) {
        problem = AudioProblem::NoDevice;
        return nullptr;
    }
    return PipeWireSource::open(std::move(conn), m_source, problem);
}

std::unique_ptr<AudioSink> PipeWireBackend::openSink(AudioProblem& problem) {
    auto conn = connection();
    if (!conn) {
        problem = AudioProblem::NoServer;
        return nullptr;
    }
    return PipeWireSink::open(std::move(conn), m_sink, m_clock,
                              {.startMs = kPipeWirePlaybackStartMs, .maxMs = kPipeWirePlaybackMaxMs},
                              problem);
}

} // namespace talvora::voice
