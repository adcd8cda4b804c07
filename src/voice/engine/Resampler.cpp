#include "voice/engine/Resampler.h"

#include "base/Error.h"

#include <speex/speex_resampler.h>

namespace talvora::voice {

namespace {
// Quality 5 is speexdsp's own default for voice: inaudible artefacts at a small cost.
constexpr int kResamplerQuality = 5;
} // namespace

Resampler::Resampler(int inputRateHz, int outputRateHz)
    : m_inputRateHz(inputRateHz), m_outputRateHz(outputRateHz) {
    int err = 0;
    m_state = speex_resampler_init(1, static_cast<spx_uint32_t>(inputRateHz),
                                   static_cast<spx_uint32_t>(outputRateHz), kResamplerQuality, &err);
    if (m_state == nullptr || err != RESAMPLER_ERR_SUCCESS) {
        throw Error(QStringLiteral("The sound rate %1 Hz cannot be converted.").arg(inputRateHz));
    }
    speex_resampler_skip_zeros(m_state);
}

Resampler::~Resampler() {
    if (m_state != nullptr) {
        speex_resampler_destroy(m_state);
    }
}

std::size_t Resampler::maxOutput(std::size_t inputSamples) const {
    return inputSamples * static_cast<std::size_t>(m_outputRateHz) / static_cast<std::size_t>(m_inputRateHz) +
           16;
}

std::size_t Resampler::process(std::span<const std::int16_t> in, std::span<std::int16_t> out) {
    std::size_t consumed = 0;
    std::size_t produced = 0;
    while (consumed < in.size() && produced < out.size()) {
        auto inLen = static_cast<spx_uint32_t>(in.size() - consumed);
        auto outLen = static_cast<spx_uint32_t>(out.size() - produced);
        speex_resampler_process_int(m_state, 0, in.data() + consumed, &inLen, out.data() + produced, &outLen);
        if (inLen == 0 && outLen == 0) {
            break;
        }
        consumed += inLen;
        produced += outLen;
    }
    return produced;
}

} // namespace talvora::voice
