#include "voice/engine/ReceivePipeline.h"

#include <algorithm>

namespace talvora::voice {

void ReceivePipeline::produce(const JitterBuffer::Frame& frame, std::span<const std::uint8_t> packet,
                              int level, std::span<std::int16_t> out) {
    if (!isDecodableFrame(out.size())) {
        return;
    }
    const auto bytes = packet.first(std::min(frame.bytes, packet.size()));
    switch (frame.kind) {
    case JitterBuffer::FrameKind::Silence:
        std::fill(out.begin(), out.end(), std::int16_t{0});
        if (!m_wasSilent) {
            // A new stream must not continue the old one's prediction.
            m_decoder.reset();
        }
        m_wasSilent = true;
        return;
    case JitterBuffer::FrameKind::Packet:
        if (!m_decoder.decode(bytes, out)) {
            ++m_decodeErrors;
        }
        break;
    case JitterBuffer::FrameKind::ConcealWithNext:
        if (!m_decoder.decodeFromNext(bytes, out)) {
            ++m_decodeErrors;
        }
        break;
    case JitterBuffer::FrameKind::Conceal:
        m_decoder.conceal(out);
        break;
    }
    m_wasSilent = false;
    m_gain.apply(out, level);
}

} // namespace talvora::voice
