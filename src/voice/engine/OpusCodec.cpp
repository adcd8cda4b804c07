#include "voice/engine/OpusCodec.h"

#include "base/Error.h"

#include <opus/opus.h>

#include <algorithm>

namespace talvora::voice {

OpusVoiceEncoder::OpusVoiceEncoder(int frameMs) : m_frameSamples(samplesFor(frameMs)) {
    if (!isSendableFrameMs(frameMs)) {
        throw Error(QStringLiteral("The voice encoder does not make %1 ms frames.").arg(frameMs));
    }
    int err = OPUS_OK;
    m_encoder = opus_encoder_create(kSampleRateHz, 1, OPUS_APPLICATION_VOIP, &err);
    if (m_encoder == nullptr || err != OPUS_OK) {
        throw Error(QStringLiteral("The voice encoder cannot be started: %1")
                        .arg(QString::fromUtf8(opus_strerror(err))));
    }
    opus_encoder_ctl(m_encoder, OPUS_SET_BITRATE(kOpusBitrateBps));
    opus_encoder_ctl(m_encoder, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    opus_encoder_ctl(m_encoder, OPUS_SET_INBAND_FEC(1));
    opus_encoder_ctl(m_encoder, OPUS_SET_PACKET_LOSS_PERC(kOpusExpectedLossPercent));
    opus_encoder_ctl(m_encoder, OPUS_SET_DTX(0));
    // Complexity 5 keeps a frame near a tenth of a millisecond with little audible difference
    // from 10 for speech at this bitrate.
    opus_encoder_ctl(m_encoder, OPUS_SET_COMPLEXITY(5));
}

OpusVoiceEncoder::~OpusVoiceEncoder() {
    opus_encoder_destroy(m_encoder);
}

std::size_t OpusVoiceEncoder::encode(std::span<const std::int16_t> frame, std::span<std::uint8_t> packet) {
    if (frame.size() != m_frameSamples) {
        return 0;
    }
    const opus_int32 bytes = opus_encode(m_encoder, frame.data(), static_cast<int>(m_frameSamples),
                                         packet.data(), static_cast<opus_int32>(packet.size()));
    return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

OpusVoiceDecoder::OpusVoiceDecoder() {
    int err = OPUS_OK;
    m_decoder = opus_decoder_create(kSampleRateHz, 1, &err);
    if (m_decoder == nullptr || err != OPUS_OK) {
        throw Error(QStringLiteral("The voice decoder cannot be started: %1")
                        .arg(QString::fromUtf8(opus_strerror(err))));
    }
}

OpusVoiceDecoder::~OpusVoiceDecoder() {
    opus_decoder_destroy(m_decoder);
}

int OpusVoiceDecoder::packetMs(std::span<const std::uint8_t> packet) {
    if (packet.empty()) {
        return 0;
    }
    const int samples =
        opus_packet_get_nb_samples(packet.data(), static_cast<opus_int32>(packet.size()), kSampleRateHz);
    if (samples <= 0 || samples % static_cast<int>(kSamplesPerMs) != 0) {
        return 0;
    }
    const int ms = samples / static_cast<int>(kSamplesPerMs);
    return isReceivableFrameMs(ms) ? ms : 0;
}

bool OpusVoiceDecoder::decode(std::span<const std::uint8_t> packet, std::span<std::int16_t> frame) {
    if (!isDecodableFrame(frame.size())) {
        return false;
    }
    const int samples = opus_decode(m_decoder, packet.data(), static_cast<opus_int32>(packet.size()),
                                    frame.data(), static_cast<int>(frame.size()), 0);
    if (samples == static_cast<int>(frame.size())) {
        return true;
    }
    // A hostile or damaged packet, or one of another length than the frame: never play it.
    conceal(frame);
    return false;
}

bool OpusVoiceDecoder::decodeFromNext(std::span<const std::uint8_t> nextPacket,
                                      std::span<std::int16_t> frame) {
    if (!isDecodableFrame(frame.size())) {
        return false;
    }
    const int samples = opus_decode(m_decoder, nextPacket.data(), static_cast<opus_int32>(nextPacket.size()),
                                    frame.data(), static_cast<int>(frame.size()), 1);
    if (samples == static_cast<int>(frame.size())) {
        return true;
    }
    conceal(frame);
    return false;
}

void OpusVoiceDecoder::conceal(std::span<std::int16_t> frame) {
    if (!isDecodableFrame(frame.size())) {
        return;
    }
    const int samples = opus_decode(m_decoder, nullptr, 0, frame.data(), static_cast<int>(frame.size()), 0);
    if (samples != static_cast<int>(frame.size())) {
        std::fill(frame.begin(), frame.end(), std::int16_t{0});
    }
}

void OpusVoiceDecoder::reset() {
    opus_decoder_ctl(m_decoder, OPUS_RESET_STATE);
}

} // namespace talvora::voice
