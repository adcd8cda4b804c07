#include "voice/engine/TransmitPipeline.h"

#include "base/Error.h"

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <algorithm>

namespace talvora::voice {

TransmitPipeline::TransmitPipeline(VoiceProcessing options, int frameMs)
    : m_options(options), m_frameSamples(samplesFor(frameMs)), m_encoder(frameMs) {
    if (m_options.echoCancellation) {
        m_echo = speex_echo_state_init(static_cast<int>(m_frameSamples), kSampleRateHz / 1000 * kEchoTailMs);
        if (m_echo == nullptr) {
            throw Error(QStringLiteral("The echo canceller cannot be started."));
        }
        int rate = kSampleRateHz;
        speex_echo_ctl(m_echo, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
    }
    if (m_options.echoCancellation || m_options.noiseSuppression || m_options.gainControl) {
        m_preprocess = speex_preprocess_state_init(static_cast<int>(m_frameSamples), kSampleRateHz);
        if (m_preprocess == nullptr) {
            if (m_echo != nullptr) {
                speex_echo_state_destroy(m_echo);
            }
            throw Error(QStringLiteral("The noise suppressor cannot be started."));
        }
        int denoise = m_options.noiseSuppression ? 1 : 0;
        int agc = m_options.gainControl ? 1 : 0;
        int off = 0;
        speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_DENOISE, &denoise);
        speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_AGC, &agc);
        if (m_options.gainControl) {
            float target = kGainControlTarget;
            int maxGainDb = kGainControlMaxGainDb;
            int rise = kGainControlRiseDbPerSecond;
            speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_AGC_LEVEL, &target);
            speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_AGC_MAX_GAIN, &maxGainDb);
            speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_AGC_INCREMENT, &rise);
        }
        speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_DEREVERB, &off);
        if (m_echo != nullptr) {
            speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_ECHO_STATE, m_echo);
        }
    }
}

TransmitPipeline::~TransmitPipeline() {
    if (m_preprocess != nullptr) {
        speex_preprocess_state_destroy(m_preprocess);
    }
    if (m_echo != nullptr) {
        speex_echo_state_destroy(m_echo);
    }
}

std::size_t TransmitPipeline::process(std::span<std::int16_t> mic, std::span<const std::int16_t> played,
                                      int level, std::span<std::uint8_t> packet) {
    if (mic.size() != m_frameSamples) {
        return 0;
    }
    if (m_echo != nullptr) {
        // Without playback the canceller still runs, on silence, so its state follows the mic.
        const std::int16_t* reference = played.size() == m_frameSamples ? played.data() : m_silence;
        speex_echo_cancellation(m_echo, mic.data(), reference, m_cleaned);
        std::copy_n(std::begin(m_cleaned), m_frameSamples, mic.begin());
    }
    if (m_preprocess != nullptr) {
        if (m_options.gainControl) {
            holdGainWhileFarEndTalks(played);
        }
        speex_preprocess_run(m_preprocess, mic.data());
    }
    // The user's level comes after the gain control, which would otherwise undo it.
    m_gain.apply(mic, level);
    return m_encoder.encode(mic, packet);
}

void TransmitPipeline::restartEchoCanceller() {
    if (m_echo != nullptr) {
        speex_echo_state_reset(m_echo);
    }
}

void TransmitPipeline::holdGainWhileFarEndTalks(std::span<const std::int16_t> played) {
    double energy = 0;
    for (std::int16_t s : played) {
        energy += double(s) * s;
    }
    const bool farEndTalks =
        !played.empty() && energy >= kFarEndActiveRms * kFarEndActiveRms * double(played.size());
    if (farEndTalks == m_gainRiseHeld) {
        return;
    }
    m_gainRiseHeld = farEndTalks;
    int rise = farEndTalks ? 0 : kGainControlRiseDbPerSecond;
    speex_preprocess_ctl(m_preprocess, SPEEX_PREPROCESS_SET_AGC_INCREMENT, &rise);
}

} // namespace talvora::voice
