#include "FakeAudio.h"

namespace talvora::voice {

FakeSource::FakeSource(const Clock& clock, int rateHz, SignalFunction signal,
                       std::function<void(const BlockTime&)> onBlock, std::uint64_t failAfterSamples)
    : m_pace(clock, rateHz), m_signal(std::move(signal)), m_onBlock(std::move(onBlock)),
      m_failAfterSamples(failAfterSamples) {}

bool FakeSource::read(std::span<std::int16_t> out) {
    if (m_failAfterSamples != 0 && m_samplesRead >= m_failAfterSamples) {
        return false;
    }
    // The block is complete once its last sample has been "captured".
    if (!m_pace.waitUntil(m_samplesRead + out.size())) {
        return false;
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = m_signal ? m_signal(m_samplesRead + i) : std::int16_t{0};
    }
    if (m_onBlock) {
        m_onBlock(BlockTime{m_samplesRead, m_pace.nowUs()});
    }
    m_samplesRead += out.size();
    return true;
}

void PlaybackRecording::append(std::span<const std::int16_t> samples, std::int64_t timeUs) {
    std::lock_guard lock(m_mutex);
    m_blocks.push_back(BlockTime{m_samples.size(), timeUs});
    m_samples.insert(m_samples.end(), samples.begin(), samples.end());
}

std::vector<std::int16_t> PlaybackRecording::samples() const {
    std::lock_guard lock(m_mutex);
    return m_samples;
}

std::vector<BlockTime> PlaybackRecording::blocks() const {
    std::lock_guard lock(m_mutex);
    return m_blocks;
}

std::size_t PlaybackRecording::size() const {
    std::lock_guard lock(m_mutex);
    return m_samples.size();
}

FakeSink::FakeSink(const Clock& clock, int rateHz, std::shared_ptr<PlaybackRecording> recording,
                   std::uint64_t failAfterSamples)
    : m_pace(clock, rateHz), m_recording(std::move(recording)), m_failAfterSamples(failAfterSamples) {}

bool FakeSink::write(std::span<const std::int16_t> samples) {
    if (m_failAfterSamples != 0 && m_samplesWritten >= m_failAfterSamples) {
        return false;
    }
    // Like a device with one block of buffer: a block is taken once the previous one has played.
    if (!m_pace.waitUntil(m_samplesWritten)) {
        return false;
    }
    if (m_recording) {
        m_recording->append(samples, m_pace.nowUs());
    }
    m_samplesWritten += samples.size();
    return true;
}

FakeAudioBackend::FakeAudioBackend(const Clock& clock, Config config)
    : m_clock(clock), m_config(std::move(config)) {}

std::unique_ptr<AudioSource> FakeAudioBackend::openSource(AudioProblem& problem) {
    problem = m_config.sourceProblem;
    const bool failedBefore = m_config.sourceFailsAfterSamples != 0 && m_sourceOpens.load() > 0;
    if (problem == AudioProblem::None && failedBefore && !m_config.failedDevicesReturn) {
        problem = AudioProblem::NoDevice;
    }
    if (problem != AudioProblem::None) {
        return nullptr;
    }
    ++m_sourceOpens;
    return std::make_unique<FakeSource>(m_clock, m_config.sourceRateHz, m_config.signal, m_config.onRead,
                                        m_config.sourceFailsAfterSamples);
}

std::unique_ptr<AudioSink> FakeAudioBackend::openSink(AudioProblem& problem) {
    problem = m_config.sinkProblem;
    const bool failedBefore = m_config.sinkFailsAfterSamples != 0 && m_sinkOpens.load() > 0;
    if (problem == AudioProblem::None && failedBefore && !m_config.failedDevicesReturn) {
        problem = AudioProblem::NoDevice;
    }
    if (problem != AudioProblem::None) {
        return nullptr;
    }
    ++m_sinkOpens;
    return std::make_unique<FakeSink>(m_clock, m_config.sinkRateHz, m_recording,
                                      m_config.sinkFailsAfterSamples);
}

} // namespace talvora::voice
