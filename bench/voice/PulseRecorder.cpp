#include "PulseRecorder.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace talvora::voice::bench {

namespace {

void contextChanged(pa_context*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

std::int64_t steadyUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PulseRecorder::PulseRecorder(const std::string& server, const std::string& device) {
    m_loop = pa_threaded_mainloop_new();
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "mouth-to-ear recorder");
    pa_context_set_state_callback(m_context, contextChanged, m_loop);
    m_take.samples.reserve(48000 * 120);
    if (pa_context_connect(m_context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(m_loop) < 0) {
        throw std::runtime_error("no sound server at " + server);
    }
    pa_threaded_mainloop_lock(m_loop);
    waitFor([](PulseRecorder& r) { return pa_context_get_state(r.m_context) == PA_CONTEXT_READY; },
            "the sound server");
    const pa_sample_spec spec{PA_SAMPLE_S16LE, 48000, 1};
    m_stream = pa_stream_new(m_context, "mouth-to-ear recorder", &spec, nullptr);
    pa_stream_set_state_callback(m_stream, changed, m_loop);
    pa_stream_set_read_callback(m_stream, readable, this);
    // Fragments longer than the engine's playback latency, so that listening to the sink's
    // monitor does not make the sink run with a shorter buffer than the call alone would.
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);
    attr.fragsize = 48000 / 1000 * 40 * 2;
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                       PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_NOT_MONOTONIC);
    if (pa_stream_connect_record(m_stream, device.c_str(), &attr, flags) < 0) {
        pa_threaded_mainloop_unlock(m_loop);
        throw std::runtime_error("cannot record " + device);
    }
    waitFor([](PulseRecorder& r) { return pa_stream_get_state(r.m_stream) == PA_STREAM_READY; },
            device.c_str());
    pa_threaded_mainloop_unlock(m_loop);
}

PulseRecorder::~PulseRecorder() {
    pa_threaded_mainloop_stop(m_loop);
    if (m_stream != nullptr) {
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    pa_threaded_mainloop_free(m_loop);
}

// With the loop locked; throws (unlocking it) when the context or stream failed.
void PulseRecorder::waitFor(bool (*done)(PulseRecorder&), const char* what) {
    while (!done(*this)) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) ||
            (m_stream != nullptr && !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))) {
            pa_threaded_mainloop_unlock(m_loop);
            throw std::runtime_error(std::string("cannot reach ") + what);
        }
        pa_threaded_mainloop_wait(m_loop);
    }
}

void PulseRecorder::changed(pa_stream*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

void PulseRecorder::readable(pa_stream* stream, std::size_t, void* self) {
    Take& take = static_cast<PulseRecorder*>(self)->m_take;
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        // The latency belongs to the sample at the read index: the first of this fragment.
        pa_usec_t latencyUs = 0;
        int negative = 0;
        const std::int64_t nowUs = steadyUs();
        if (pa_stream_get_latency(stream, &latencyUs, &negative) == 0) {
            const auto signedUs = static_cast<std::int64_t>(latencyUs);
            take.passed.push_back(
                BlockTime{take.samples.size(), negative ? nowUs + signedUs : nowUs - signedUs});
        }
        const auto* samples = static_cast<const std::int16_t*>(data);
        const std::size_t count = bytes / sizeof(std::int16_t);
        if (samples == nullptr) {
            take.samples.insert(take.samples.end(), count, 0); // a hole: silence
        } else {
            take.samples.insert(take.samples.end(), samples, samples + count);
        }
        pa_stream_drop(stream);
    }
}

PulseRecorder::Take PulseRecorder::stop() {
    pa_threaded_mainloop_lock(m_loop);
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    Take take = std::move(m_take);
    pa_threaded_mainloop_unlock(m_loop);
    return take;
}

} // namespace talvora::voice::bench
