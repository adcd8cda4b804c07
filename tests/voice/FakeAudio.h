#pragma once

#include "voice/engine/AudioDevice.h"
#include "voice/engine/SamplePace.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace talvora::voice {

// In-memory devices for tests and benchmarks that run in real time on a clock, like a sound card:
// a source that plays a given signal and a sink that hands back what was played. Either can be
// told to fail after a number of samples, like a device that is unplugged.

// A signal as a function of the sample index (at the device's rate).
using SignalFunction = std::function<std::int16_t(std::uint64_t sampleIndex)>;

// The time at which a block of samples passed through a fake device.
struct BlockTime {
    std::uint64_t firstSample = 0;
    std::int64_t timeUs = 0;
};

class FakeSource final : public AudioSource {
public:
    // A null `signal` is silence. `onBlock` (optional) learns when each block was read.
    FakeSource(const Clock& clock, int rateHz, SignalFunction signal,
               std::function<void(const BlockTime&)> onBlock = {}, std::uint64_t failAfterSamples = 0);

    int sampleRateHz() const override { return m_pace.rateHz(); }
    bool read(std::span<std::int16_t> out) override;
    void interrupt() override { m_pace.interrupt(); }

private:
    SamplePace m_pace;
    SignalFunction m_signal;
    std::function<void(const BlockTime&)> m_onBlock;
    std::uint64_t m_failAfterSamples; // like a device unplugged; 0: never
    std::uint64_t m_samplesRead = 0;
};

// What a FakeSink played, shared between the sink (on the playback thread) and a test.
class PlaybackRecording {
public:
    void append(std::span<const std::int16_t> samples, std::int64_t timeUs);
    std::vector<std::int16_t> samples() const;
    std::vector<BlockTime> blocks() const;
    std::size_t size() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::int16_t> m_samples; // guarded by m_mutex
    std::vector<BlockTime> m_blocks;     // guarded by m_mutex
};

class FakeSink final : public AudioSink {
public:
    // A null `recording` discards what is played.
    FakeSink(const Clock& clock, int rateHz, std::shared_ptr<PlaybackRecording> recording = {},
             std::uint64_t failAfterSamples = 0);

    int sampleRateHz() const override { return m_pace.rateHz(); }
    bool write(std::span<const std::int16_t> samples) override;
    void interrupt() override { m_pace.interrupt(); }

private:
    SamplePace m_pace;
    std::shared_ptr<PlaybackRecording> m_recording;
    std::uint64_t m_failAfterSamples;
    std::uint64_t m_samplesWritten = 0;
};

// A backend of in-memory devices.
class FakeAudioBackend final : public AudioBackend {
public:
    struct Config {
        int sourceRateHz = 48000;
        int sinkRateHz = 48000;
        SignalFunction signal;                        // what the microphone hears
        std::function<void(const BlockTime&)> onRead; // when each microphone block was read
        AudioProblem sourceProblem = AudioProblem::None;
        AudioProblem sinkProblem = AudioProblem::None;
        std::uint64_t sourceFailsAfterSamples = 0; // the device goes away mid-call; 0: never
        std::uint64_t sinkFailsAfterSamples = 0;
        // A device that failed can be opened again (it was plugged back in); otherwise it stays
        // away for the rest of the backend's life.
        bool failedDevicesReturn = false;
    };

    FakeAudioBackend(const Clock& clock, Config config);

    std::unique_ptr<AudioSource> openSource(AudioProblem& problem) override;
    std::unique_ptr<AudioSink> openSink(AudioProblem& problem) override;

    // How often a device was opened (from any thread).
    int sourceOpens() const { return m_sourceOpens.load(); }
    int sinkOpens() const { return m_sinkOpens.load(); }

    // Everything the sinks of this backend played, in order.
    const std::shared_ptr<PlaybackRecording>& recording() const { return m_recording; }

private:
    const Clock& m_clock;
    Config m_config;
    std::shared_ptr<PlaybackRecording> m_recording = std::make_shared<PlaybackRecording>();
    // Opens come from the main thread and from the directions' threads.
    std::atomic<int> m_sourceOpens{0};
    std::atomic<int> m_sinkOpens{0};
};

} // namespace talvora::voice
