#pragma once

#include "voice/engine/Rtp.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace talvora::voice {

// An adaptive playout buffer for voice packets of one length (20 ms unless configured),
// keyed by RTP sequence number. It keeps the playout point just behind nearly every arrival the
// network has shown recently: the spread of transit times over the last `windowMs` of arrivals,
// from the fastest to the slowest but a few (`latePerMille`), plus a small margin. When the
// spread grows it waits (the decoder conceals), when it shrinks it drops single frames until it
// is back on target, so the delay settles after a burst of jitter.
//
// The slowest few are left out because late audio comes in bunches: a sender whose sound server
// held its microphone back for 50 ms sends the five packets of that time at once, one 50 ms late,
// the next 40, and so on. Waiting for the first of them would hold every other packet back by as
// much; concealing it costs one frame.
//
// Time comes from the caller (milliseconds on any monotonic clock), so the behaviour is the same
// in tests and in the engine. Not thread-safe: the engine serialises put and get.
// Memory is fixed at construction; nothing is allocated afterwards.
class JitterBuffer {
public:
    // 1.28 s of 20 ms packets, 0.64 s of 10 ms ones: beyond any delay we would accept, small
    // enough to be cheap.
    static constexpr int kSlotCount = 64;
    static constexpr int kMaxWindowPackets = 256;

    struct Config {
        int frameMs = 20;  // what each packet carries
        int marginMs = 10; // kept above the measured spread of transit times
        // Of the arrivals in the window, this share (per thousand) may come after the target:
        // one in fifty. A window of fewer than 1000 / latePerMille arrivals waits for all.
        int latePerMille = 20;
        int maxDelayMs = 600;  // the target never exceeds this, whatever the network does
        int windowMs = 2000;   // the arrivals the spread is measured over
        int idleAfterMs = 500; // this long without a packet: the stream has stopped
        // This long of late packets in a row means the sender restarted its sequence behind
        // ours; a stall of the network shorter than that delivers fewer.
        int lateRunRestartMs = 500;
    };

    enum class PutResult {
        Stored,
        Duplicate,  // already held: dropped
        Late,       // its turn has passed: dropped (it still teaches the jitter estimate)
        OutOfRange, // far from the current sequence: dropped, remembered as a possible restart
        Restarted,  // a second packet confirmed a new sequence: the buffer started over with it
        Rejected,   // empty or oversized payload
    };

    enum class FrameKind {
        Silence,         // nothing to play: no stream, or not yet due
        Packet,          // `out` holds the packet for this frame
        Conceal,         // the frame is missing or the buffer is waiting: conceal
        ConcealWithNext, // the frame is lost but `out` holds the next one (for in-band FEC)
    };

    struct Frame {
        FrameKind kind = FrameKind::Silence;
        std::size_t bytes = 0;
    };

    struct Stats {
        std::uint64_t stored = 0;
        std::uint64_t duplicates = 0;
        std::uint64_t late = 0;
        std::uint64_t outOfRange = 0;
        std::uint64_t restarts = 0;
        std::uint64_t played = 0;
        std::uint64_t lost = 0;     // frames whose packet never came in time
        std::uint64_t inserted = 0; // concealed frames added to grow the delay
        std::uint64_t dropped = 0;  // frames skipped to shrink the delay
    };

    JitterBuffer();
    explicit JitterBuffer(Config config);

    PutResult put(std::uint16_t sequence, std::span<const std::uint8_t> payload, std::int64_t arrivalMs);
    // The next frame (frameMs() long). `out` must hold kMaxOpusPacketBytes.
    Frame get(std::int64_t nowMs, std::span<std::uint8_t> out);
    // Forgets every packet and the jitter history (a new stream); statistics are kept.
    void reset();
    // reset(), for a stream of packets `frameMs` long.
    void restart(int frameMs);

    int frameMs() const { return m_config.frameMs; }
    // Late packets in a row that make a restart.
    int lateRunRestart() const { return m_lateRunRestart; }

    int targetDelayMs() const { return m_targetDelayMs; }
    // How long the last played packet waited between arrival and playout.
    int lastPlayoutDelayMs() const { return m_lastPlayoutDelayMs; }
    bool playing() const { return m_playing; }
    int bufferedPackets() const { return m_buffered; }
    const Stats& stats() const { return m_stats; }

private:
    struct Slot {
        bool full = false;
        std::int64_t sequence = 0;
        std::int64_t arrivalMs = 0;
        std::size_t bytes = 0;
        std::array<std::uint8_t, kMaxOpusPacketBytes> data{};
    };

    std::int64_t extend(std::uint16_t sequence) const;
    Slot& slotFor(std::int64_t sequence) {
        return m_slots[static_cast<std::size_t>(sequence & (kSlotCount - 1))];
    }
    Slot* find(std::int64_t sequence);
    void anchor(std::int64_t sequence);
    void store(std::int64_t sequence, std::span<const std::uint8_t> payload, std::int64_t arrivalMs);
    void clearSlot(Slot& slot);
    void learnTransit(std::int64_t sequence, std::int64_t arrivalMs);
    std::size_t copyOut(const Slot& slot, std::span<std::uint8_t> out) const;

    void configure(Config config);

    Config m_config;
    int m_windowPackets = 0;
    int m_idleAfterFrames = 0;
    int m_lateRunRestart = 0;
    std::array<Slot, kSlotCount> m_slots;
    int m_buffered = 0;

    bool m_started = false; // a stream is anchored
    bool m_playing = false; // playout has begun for it
    std::int64_t m_nextSequence = 0;
    std::int64_t m_highestSequence = 0;
    int m_framesWithoutPacket = 0;

    bool m_haveCandidate = false;
    std::uint16_t m_candidate = 0;
    int m_lateRun = 0;

    // Relative transit times (arrival minus nominal send time) of the recent arrivals.
    std::array<std::int64_t, kMaxWindowPackets> m_transit{};
    std::array<std::int64_t, kMaxWindowPackets> m_ranked{}; // scratch for the percentile
    int m_transitCount = 0;
    int m_transitPos = 0;
    std::int64_t m_minTransitMs = 0;
    int m_targetDelayMs = 0;
    int m_lastPlayoutDelayMs = 0;

    Stats m_stats;
};

} // namespace talvora::voice
