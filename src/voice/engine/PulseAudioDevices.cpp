#include "voice/engine/PulseAudioDevices.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

namespace talvora::voice {

namespace {

constexpr const char* kApplicationName = "Talvora Video Phone";

void streamChanged(pa_stream*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

void streamRequest(pa_stream*, size_t, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

std::uint32_t bytesFor(int rateHz, int ms) {
    return static_cast<std::uint32_t>(rateHz) * static_cast<std::uint32_t>(ms) / 1000 * sizeof(std::int16_t);
}

// Creates a mono 16-bit stream tagged as a phone call, with the loop locked.
pa_stream* newStream(PulseConnection& connection, const char* name, int rateHz) {
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = static_cast<std::uint32_t>(rateHz);
    spec.channels = 1;
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "phone");
    pa_stream* stream = pa_stream_new_with_proplist(connection.context(), name, &spec, nullptr, props);
    pa_proplist_free(props);
    if (stream != nullptr) {
        pa_stream_set_state_callback(stream, streamChanged, connection.mainloop());
    }
    return stream;
}

bool waitReady(PulseConnection& connection, pa_stream* stream) {
    return connection.waitLocked(
               [stream] {
                   const pa_stream_state_t state = pa_stream_get_state(stream);
                   return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
               },
               kPulseTimeoutMs) &&
           pa_stream_get_state(stream) == PA_STREAM_READY;
}

void closeStream(pa_stream* stream) {
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

int validRate(int rateHz) {
    return rateHz >= 8000 && rateHz <= 192000 ? rateHz : 48000;
}

// A stream meant for the default device is connected to no device in particular: the server then
// routes it (to the default, or where its policy modules send a phone call), moves it along when
// the default changes, and its switch-on-connect moves it to a headset that is plugged in. Naming
// the default would pin the stream to whatever device was default when the call began.
const char* deviceName(const std::string& name, const char* defaultName) {
    return name == defaultName ? nullptr : name.c_str();
}

} // namespace

PulseSource::PulseSource(std::shared_ptr<PulseConnection> connection, int rateHz)
    : m_connection(std::move(connection)), m_rateHz(rateHz) {}

std::unique_ptr<PulseSource> PulseSource::open(std::shared_ptr<PulseConnection> connection,
                                               const PulseDeviceInfo& device, const char* deviceName) {
    std::unique_ptr<PulseSource> source(new PulseSource(connection, validRate(device.sampleRateHz)));
    MainloopLock lock(connection->mainloop());
    source->m_stream = newStream(*connection, "Voice call microphone", source->m_rateHz);
    if (source->m_stream == nullptr) {
        return nullptr;
    }
    pa_stream_set_read_callback(source->m_stream, streamRequest, connection->mainloop());
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = bytesFor(source->m_rateHz, kPulseRecordFragmentMs);
    if (pa_stream_connect_record(source->m_stream, deviceName, &attr, PA_STREAM_ADJUST_LATENCY) < 0 ||
        !waitReady(*connection, source->m_stream)) {
        return nullptr;
    }
    return source;
}

PulseSource::~PulseSource() {
    if (m_stream != nullptr) {
        MainloopLock lock(m_connection->mainloop());
        closeStream(m_stream);
    }
}

bool PulseSource::read(std::span<std::int16_t> out) {
    if (m_interrupted.load()) {
        return false;
    }
    auto* dest = reinterpret_cast<std::uint8_t*>(out.data());
    std::size_t wanted = out.size_bytes();
    // First what was left of the last fragment: libpulse hands out whole fragments only.
    const std::size_t fromPending = std::min(wanted, m_pendingBytes - m_pendingOffset);
    std::memcpy(dest, m_pending.data() + m_pendingOffset, fromPending);
    m_pendingOffset += fromPending;
    dest += fromPending;
    wanted -= fromPending;

    MainloopLock lock(m_connection->mainloop());
    while (wanted > 0) {
        if (m_interrupted.load() || pa_stream_get_state(m_stream) != PA_STREAM_READY) {
            return false;
        }
        const void* data = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(m_stream, &data, &length) < 0) {
            return false;
        }
        if (length == 0) {
            pa_threaded_mainloop_wait(m_connection->mainloop());
            continue;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        const std::size_t take = std::min(length, wanted);
        if (bytes == nullptr) {
            std::memset(dest, 0, take); // a hole in the recording: silence
        } else {
            std::memcpy(dest, bytes, take);
        }
        dest += take;
        wanted -= take;
        if (take < length) {
            // Keep the fragment's tail for the next read (beyond our store it is dropped: old
            // audio is worth less than new).
            m_pendingBytes = std::min(length - take, m_pending.size());
            m_pendingOffset = 0;
            if (bytes == nullptr) {
                std::memset(m_pending.data(), 0, m_pendingBytes);
            } else {
                std::memcpy(m_pending.data(), bytes + take, m_pendingBytes);
            }
        }
        pa_stream_drop(m_stream);
    }
    return true;
}

void PulseSource::interrupt() {
    m_interrupted.store(true);
    MainloopLock lock(m_connection->mainloop());
    pa_threaded_mainloop_signal(m_connection->mainloop(), 0);
}

PulseSink::PulseSink(std::shared_ptr<PulseConnection> connection, int rateHz, const Clock& clock,
                     PlaybackBuffer::Limits buffer)
    : m_connection(std::move(connection)), m_rateHz(rateHz), m_clock(clock), m_buffer(buffer, clock.nowMs()),
      m_appliedMs(m_buffer.targetMs()) {}

pa_buffer_attr PulseSink::attributesFor(int targetMs) const {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = bytesFor(m_rateHz, targetMs);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = bytesFor(m_rateHz, kPulsePlaybackRequestMs);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    return attr;
}

std::unique_ptr<PulseSink> PulseSink::open(std::shared_ptr<PulseConnection> connection,
                                           const PulseDeviceInfo& device, const char* deviceName,
                                           const Clock& clock, PlaybackBuffer::Limits buffer) {
    std::unique_ptr<PulseSink> sink(new PulseSink(connection, validRate(device.sampleRateHz), clock, buffer));
    MainloopLock lock(connection->mainloop());
    sink->m_stream = newStream(*connection, "Voice call speaker", sink->m_rateHz);
    if (sink->m_stream == nullptr) {
        return nullptr;
    }
    pa_stream_set_write_callback(sink->m_stream, streamRequest, connection->mainloop());
    pa_stream_set_underflow_callback(sink->m_stream, underflowed, sink.get());
    const pa_buffer_attr attr = sink->attributesFor(sink->m_appliedMs);
    if (pa_stream_connect_playback(sink->m_stream, deviceName, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr) < 0 ||
        !waitReady(*connection, sink->m_stream)) {
        return nullptr;
    }
    if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(sink->m_stream)) {
        sink->m_serverQueueBytes.store(granted->tlength);
    }
    return sink;
}

void PulseSink::underflowed(pa_stream*, void* self) {
    static_cast<PulseSink*>(self)->m_underflows.fetch_add(1);
}

void PulseSink::attributesSet(pa_stream* stream, int success, void* self) {
    if (success != 0) {
        if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream)) {
            static_cast<PulseSink*>(self)->m_serverQueueBytes.store(granted->tlength);
        }
    }
}

void PulseSink::adaptBuffer() {
    const std::int64_t nowMs = m_clock.nowMs();
    const std::uint64_t underflows = m_underflows.load();
    for (; m_underflowsSeen < underflows; ++m_underflowsSeen) {
        m_buffer.underflow(nowMs);
    }
    const int targetMs = m_buffer.targetAt(nowMs);
    if (targetMs == m_appliedMs) {
        return;
    }
    // Asked, not waited for: the server applies it between two of our writes, and a refusal
    // leaves the stream as it was.
    const pa_buffer_attr attr = attributesFor(targetMs);
    if (pa_operation* op = pa_stream_set_buffer_attr(m_stream, &attr, attributesSet, this)) {
        if (m_pendingChange != nullptr) {
            pa_operation_cancel(m_pendingChange);
            pa_operation_unref(m_pendingChange);
        }
        m_pendingChange = op;
        m_appliedMs = targetMs;
    }
}

PulseSink::~PulseSink() {
    if (m_stream != nullptr) {
        MainloopLock lock(m_connection->mainloop());
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        if (m_pendingChange != nullptr) {
            pa_operation_cancel(m_pendingChange);
            pa_operation_unref(m_pendingChange);
        }
        closeStream(m_stream);
    }
}

bool PulseSink::write(std::span<const std::int16_t> samples) {
    if (m_interrupted.load()) {
        return false;
    }
    const auto* src = reinterpret_cast<const std::uint8_t*>(samples.data());
    std::size_t remaining = samples.size_bytes();
    MainloopLock lock(m_connection->mainloop());
    if (pa_stream_get_state(m_stream) == PA_STREAM_READY) {
        adaptBuffer();
    }
    while (remaining > 0) {
        if (m_interrupted.load() || pa_stream_get_state(m_stream) != PA_STREAM_READY) {
            return false;
        }
        const std::size_t writable = pa_stream_writable_size(m_stream);
        if (writable == static_cast<std::size_t>(-1)) {
            return false;
        }
        if (writable == 0) {
            pa_threaded_mainloop_wait(m_connection->mainloop());
            continue;
        }
        // Whole samples only.
        const std::size_t chunk = std::min(writable, remaining) & ~std::size_t{1};
        if (chunk == 0) {
            pa_threaded_mainloop_wait(m_connection->mainloop());
            continue;
        }
        if (pa_stream_write(m_stream, src, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            return false;
        }
        src += chunk;
        remaining -= chunk;
    }
    return true;
}

void PulseSink::interrupt() {
    m_interrupted.store(true);
    MainloopLock lock(m_connection->mainloop());
    pa_threaded_mainloop_signal(m_connection->mainloop(), 0);
}

PulseAudioBackend::PulseAudioBackend(std::string sourceName, std::string sinkName, const Clock* clock)
    : m_sourceName(std::move(sourceName)), m_sinkName(std::move(sinkName)),
      m_clock(clock != nullptr ? *clock : m_steadyClock) {}

std::shared_ptr<PulseConnection> PulseAudioBackend::connection() {
    std::lock_guard lock(m_mutex);
    if (m_connection) {
        MainloopLock lock(m_connection->mainloop());
        if (m_connection->ready()) {
            return m_connection;
        }
    }
    m_connection = PulseConnection::connect(kApplicationName, kPulseTimeoutMs, m_priority);
    return m_connection;
}

void PulseAudioBackend::useThreadPriority(std::shared_ptr<ThreadPriority> priority) {
    std::lock_guard lock(m_mutex);
    m_priority = std::move(priority);
}

std::unique_ptr<AudioSource> PulseAudioBackend::openSource(AudioProblem& problem) {
    auto conn = connection();
    if (!conn) {
        problem = AudioProblem::NoServer;
        return nullptr;
    }
    std::optional<PulseDeviceInfo> info;
    {
        MainloopLock lock(conn->mainloop());
        info = querySourceLocked(*conn, m_sourceName, kPulseTimeoutMs);
    }
    // Only the default may not be a monitor; a monitor asked for by name is meant.
    if (!info || (info->isMonitor && m_sourceName == kDefaultSource)) {
        problem = AudioProblem::NoDevice;
        return nullptr;
    }
    auto source = PulseSource::open(conn, *info, deviceName(m_sourceName, kDefaultSource));
    problem = source ? AudioProblem::None : AudioProblem::NoDevice;
    return source;
}

std::unique_ptr<AudioSink> PulseAudioBackend::openSink(AudioProblem& problem) {
    auto conn = connection();
    if (!conn) {
        problem = AudioProblem::NoServer;
        return nullptr;
    }
    std::optional<PulseDeviceInfo> info;
    {
        MainloopLock lock(conn->mainloop());
        info = querySinkLocked(*conn, m_sinkName, kPulseTimeoutMs);
    }
    if (!info) {
        problem = AudioProblem::NoDevice;
        return nullptr;
    }
    auto sink = PulseSink::open(conn, *info, deviceName(m_sinkName, kDefaultSink), m_clock,
                                {.startMs = kPulsePlaybackStartMs, .maxMs = kPulsePlaybackMaxMs});
    problem = sink ? AudioProblem::None : AudioProblem::NoDevice;
    return sink;
}

} // namespace talvora::voice
