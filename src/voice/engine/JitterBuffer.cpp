#include "voice/engine/JitterBuffer.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace talvora::voice {

JitterBuffer::JitterBuffer() : JitterBuffer(Config{}) {}

JitterBuffer::JitterBuffer(Config config) {
    configure(config);
}

void JitterBuffer::configure(Config config) {
    m_config = config;
    m_config.frameMs = std::clamp(m_config.frameMs, 1, 1000);
    const int frameMs = m_config.frameMs;
    m_config.maxDelayMs = std::clamp(m_config.maxDelayMs, 0, (kSlotCount - 4) * frameMs);
    m_config.latePerMille = std::clamp(m_config.latePerMille, 0, 500);
    m_windowPackets = std::clamp(m_config.windowMs / frameMs, 1, kMaxWindowPackets);
    m_idleAfterFrames = std::max(1, m_config.idleAfterMs / frameMs);
    m_lateRunRestart = std::max(2, m_config.lateRunRestartMs / frameMs);
    m_targetDelayMs = std::min(m_config.marginMs, m_config.maxDelayMs);
}

void JitterBuffer::restart(int frameMs) {
    Config config = m_config;
    config.frameMs = frameMs;
    configure(config);
    reset();
}

void JitterBuffer::reset() {
    for (Slot& slot : m_slots) {
        slot.full = false;
    }
    m_buffered = 0;
    m_started = false;
    m_playing = false;
    m_framesWithoutPacket = 0;
    m_haveCandidate = false;
    m_lateRun = 0;
    m_transitCount = 0;
    m_transitPos = 0;
    m_minTransitMs = 0;
    m_targetDelayMs = std::min(m_config.marginMs, m_config.maxDelayMs);
}

std::int64_t JitterBuffer::extend(std::uint16_t sequence) const {
    const std::int64_t reference = m_nextSequence;
    const auto delta = static_cast<std::int16_t>(
        static_cast<std::uint16_t>(sequence - static_cast<std::uint16_t>(reference)));
    return reference + delta;
}

JitterBuffer::Slot* JitterBuffer::find(std::int64_t sequence) {
    Slot& slot = slotFor(sequence);
    return slot.full && slot.sequence == sequence ? &slot : nullptr;
}

void JitterBuffer::clearSlot(Slot& slot) {
    if (slot.full) {
        slot.full = false;
        --m_buffered;
    }
}

void JitterBuffer::anchor(std::int64_t sequence) {
    reset();
    m_started = true;
    m_nextSequence = sequence;
    m_highestSequence = sequence;
}

void JitterBuffer::store(std::int64_t sequence, std::span<const std::uint8_t> payload,
                         std::int64_t arrivalMs) {
    Slot& slot = slotFor(sequence);
    if (!slot.full) {
        ++m_buffered;
    }
    slot.full = true;
    slot.sequence = sequence;
    slot.arrivalMs = arrivalMs;
    slot.bytes = payload.size();
    std::memcpy(slot.data.data(), payload.data(), payload.size());
    m_highestSequence = std::max(m_highestSequence, sequence);
    ++m_stats.stored;
}

void JitterBuffer::learnTransit(std::int64_t sequence, std::int64_t arrivalMs) {
    m_transit[static_cast<std::size_t>(m_transitPos)] = arrivalMs - sequence * m_config.frameMs;
    m_transitPos = (m_transitPos + 1) % m_windowPackets;
    m_transitCount = std::min(m_transitCount + 1, m_windowPackets);

    // The spread runs from the fastest transit to the slowest but the few the target may leave
    // late: one freak delay, or a bunch of packets a stalled sender let go at once, does not hold
    // the delay up for the whole window.
    const auto count = static_cast<std::size_t>(m_transitCount);
    const auto window = std::span(m_transit).first(count);
    const std::int64_t lowest = *std::min_element(window.begin(), window.end());
    const std::size_t leftOut = count * static_cast<std::size_t>(m_config.latePerMille) / 1000;
    const auto ranked = std::span(m_ranked).first(count);
    std::copy(window.begin(), window.end(), ranked.begin());
    const auto slowestKept = ranked.begin() + static_cast<std::ptrdiff_t>(count - 1 - leftOut);
    std::nth_element(ranked.begin(), slowestKept, ranked.end());
    const std::int64_t slowest = *slowestKept;
    m_minTransitMs = lowest;
    m_targetDelayMs =
        static_cast<int>(std::min<std::int64_t>(slowest - lowest + m_config.marginMs, m_config.maxDelayMs));
}

JitterBuffer::PutResult JitterBuffer::put(std::uint16_t sequence, std::span<const std::uint8_t> payload,
                                          std::int64_t arrivalMs) {
    if (payload.empty() || payload.size() > kMaxOpusPacketBytes) {
        return PutResult::Rejected;
    }
    // A first packet, or the first after the stream went idle, anchors a new stream.
    if (!m_started || (!m_playing && m_buffered == 0)) {
        anchor(sequence);
        store(sequence, payload, arrivalMs);
        learnTransit(sequence, arrivalMs);
        return PutResult::Stored;
    }

    const std::int64_t extended = extend(sequence);
    const std::int64_t ahead = extended - m_nextSequence;
    bool inRange = ahead >= 0 && extended < m_nextSequence + kSlotCount;
    if (!m_playing && ahead < 0 && m_highestSequence - extended < kSlotCount) {
        // Reordered before playout began: the stream starts earlier than the first arrival said.
        inRange = true;
    }
    if (m_playing && ahead < 0 && ahead >= -kSlotCount) {
        // A few late packets are jitter; a steady run of them is a sender that restarted a
        // little behind us, which would otherwise stay late for ever.
        if (++m_lateRun < m_lateRunRestart) {
            m_haveCandidate = false;
            ++m_stats.late;
            learnTransit(extended, arrivalMs);
            return PutResult::Late;
        }
        inRange = false;
        m_haveCandidate = true;
        m_candidate = static_cast<std::uint16_t>(sequence - 1);
    } else {
        m_lateRun = 0;
    }
    if (!inRange) {
        // Either a stray packet or the peer started a new sequence. Two consecutive packets of
        // the new sequence decide it; the buffer then starts over with the second one.
        const bool confirms = m_haveCandidate && static_cast<std::uint16_t>(sequence - m_candidate) >= 1 &&
                              static_cast<std::uint16_t>(sequence - m_candidate) <= 3;
        if (confirms) {
            const Stats kept = m_stats;
            anchor(sequence);
            m_stats = kept;
            ++m_stats.restarts;
            store(sequence, payload, arrivalMs);
            learnTransit(sequence, arrivalMs);
            return PutResult::Restarted;
        }
        m_haveCandidate = true;
        m_candidate = sequence;
        ++m_stats.outOfRange;
        return PutResult::OutOfRange;
    }
    m_haveCandidate = false;
    if (find(extended) != nullptr) {
        ++m_stats.duplicates;
        return PutResult::Duplicate;
    }
    if (!m_playing && extended < m_nextSequence) {
        m_nextSequence = extended;
    }
    store(extended, payload, arrivalMs);
    learnTransit(extended, arrivalMs);
    return PutResult::Stored;
}

std::size_t JitterBuffer::copyOut(const Slot& slot, std::span<std::uint8_t> out) const {
    const std::size_t bytes = std::min(slot.bytes, out.size());
    std::memcpy(out.data(), slot.data.data(), bytes);
    return bytes;
}

JitterBuffer::Frame JitterBuffer::get(std::int64_t nowMs, std::span<std::uint8_t> out) {
    if (!m_started || (!m_playing && m_buffered == 0)) {
        return {};
    }
    // How far playout lags behind the moment the next frame is due: positive means the delay is
    // above target, negative below.
    const int frameMs = m_config.frameMs;
    auto lagMs = [&] { return nowMs - (m_minTransitMs + m_targetDelayMs + m_nextSequence * frameMs); };

    if (!m_playing) {
        if (lagMs() < -frameMs / 2) {
            return {};
        }
        m_playing = true;
        m_framesWithoutPacket = 0;
    }

    // Far behind (the playback side stalled, or the delay was huge): jump close to the target.
    if (lagMs() > std::max(4 * frameMs, 80)) {
        const std::int64_t skip = lagMs() / frameMs - 1;
        for (std::int64_t i = 0; i < skip; ++i) {
            if (Slot* slot = find(m_nextSequence)) {
                clearSlot(*slot);
                ++m_stats.dropped;
            }
            ++m_nextSequence;
        }
    }

    Frame frame;
    if (Slot* slot = find(m_nextSequence)) {
        if (lagMs() < -frameMs) {
            ++m_stats.inserted;
            frame.kind = FrameKind::Conceal;
            return frame;
        }
        if (lagMs() > 3 * frameMs / 2) {
            if (Slot* next = find(m_nextSequence + 1)) {
                clearSlot(*slot);
                ++m_stats.dropped;
                ++m_nextSequence;
                slot = next;
            }
        }
        frame.kind = FrameKind::Packet;
        frame.bytes = copyOut(*slot, out);
        m_lastPlayoutDelayMs = static_cast<int>(nowMs - slot->arrivalMs);
        clearSlot(*slot);
        ++m_nextSequence;
        ++m_stats.played;
        m_framesWithoutPacket = 0;
        return frame;
    }

    ++m_framesWithoutPacket;
    if (lagMs() < 0) {
        // Not due yet: wait for it.
        ++m_stats.inserted;
        frame.kind = FrameKind::Conceal;
    } else {
        ++m_stats.lost;
        ++m_nextSequence;
        if (Slot* next = find(m_nextSequence)) {
            frame.kind = FrameKind::ConcealWithNext;
            frame.bytes = copyOut(*next, out);
        } else {
            frame.kind = FrameKind::Conceal;
        }
    }
    if (m_framesWithoutPacket >= m_idleAfterFrames && m_buffered == 0) {
        // The peer has stopped sending; the next packet anchors a new stream.
        m_playing = false;
    }
    return frame;
}

} // namespace talvora::voice
