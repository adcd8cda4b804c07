#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace talvora::voice {

class ThreadPriority;

// A microphone: 16-bit mono at the device's own rate. read() and interrupt() may be called from
// different threads; read() is called from one thread only.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual int sampleRateHz() const = 0;
    // Blocks until out.size() samples were captured. False when the device failed or interrupt()
    // was called; a device that returned false is not read again.
    virtual bool read(std::span<std::int16_t> out) = 0;
    virtual void interrupt() = 0;
};

// A speaker: 16-bit mono at the device's own rate. write() blocks while the device's buffer is
// full, which paces the playback thread.
class AudioSink {
public:
    virtual ~AudioSink() = default;
    virtual int sampleRateHz() const = 0;
    virtual bool write(std::span<const std::int16_t> samples) = 0;
    virtual void interrupt() = 0;
    // What the device keeps queued ahead of the speaker, in milliseconds, and how often it ran
    // dry since it was opened (0 where the device does not say). From the writing thread.
    virtual int bufferMs() const { return 0; }
    virtual std::uint64_t underflows() const { return 0; }
};

// Why a device could not be had.
enum class AudioProblem {
    None,
    NoServer, // no sound server answers
    NoDevice, // the server has no such device (no microphone, no output)
};

// Opens the default devices. Called on the main thread when a direction starts, and on the
// direction's own thread when it tries again to get a device that was missing or stopped.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // The priority a backend's own threads ask for (a sound server connection's event thread).
    // Given once, before any device is opened.
    virtual void useThreadPriority(std::shared_ptr<ThreadPriority> priority) { (void)priority; }
    virtual std::unique_ptr<AudioSource> openSource(AudioProblem& problem) = 0;
    virtual std::unique_ptr<AudioSink> openSink(AudioProblem& problem) = 0;
};

} // namespace talvora::voice
