#pragma once

#include "base/DatagramGuard.h"
#include "secure/SealedDatagram.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

namespace talvora {

// What may cross the network for one medium (pictures or voice) of one call, and the keys that
// seal it. The call's PrivateCall decides, once, on the main thread; the medium's sending and
// receiving threads ask for every datagram.
//
//   Hold    while the phones find out whether the call can be private, and for good when the
//           key agreement failed or the call is refused: nothing goes out, nothing is taken in.
//   Plain   the peer is an older phone: datagrams pass as they are, as older phones expect.
//   Sealed  keys were agreed: every datagram goes out sealed, only authentic sealed ones come in.
//
// Threads: outgoing() is called by one sending thread, incoming() by one receiving thread (each
// may be a real-time thread: no allocation, no lock, no logging), decide*() and counters() by the
// main thread. The sealer and opener are made before the mode says Sealed (release), and the media
// threads read the mode first (acquire), so they never see half-made keys. The mode never changes
// after the decision, so the keys live as long as the guard.
class MediaGuard final : public DatagramGuard {
public:
    enum class Mode : std::uint8_t { Hold, Plain, Sealed };

    explicit MediaGuard(SealedMedium medium);
    MediaGuard(const MediaGuard&) = delete;
    MediaGuard& operator=(const MediaGuard&) = delete;

    SealedMedium medium() const { return m_medium; }
    Mode mode() const { return m_mode.load(std::memory_order_acquire); }

    // Main thread, once per call: false (and nothing changes) when the guard has already decided.
    bool decidePlain();
    bool decideSealed(AeadCipher cipher, SecretKey sendKey, SecretKey receiveKey);

    // The largest plain datagram that can go out now: the picture budget. Pictures sent in the
    // clear get the whole UDP payload; sealed (or not yet decided) ones lose the overhead.
    std::size_t maxPlainBytes() const override;

    enum class Sent { Plain, Sealed, Held, TooLarge, Failed };
    struct Outgoing {
        Sent status = Sent::Held;
        std::span<const std::uint8_t> bytes; // what to send: `plain` itself, or the sealed datagram in `out`
    };
    // Sending thread: what to send for `plain`. `out` needs plain.size() + kSealedOverheadBytes
    // bytes; `plain` may lie at out[kSealedHeaderBytes] (no copy).
    Outgoing outgoing(std::span<const std::uint8_t> plain, std::span<std::uint8_t> out);

    // Receiving thread: the plain datagram to hand on (`datagram` itself, or the opened one in
    // `out`, which needs datagram.size() bytes and may start at datagram[kSealedHeaderBytes]); empty
    // when it is dropped, and then counted.
    std::optional<std::span<const std::uint8_t>> incoming(std::span<const std::uint8_t> datagram,
                                                          std::span<std::uint8_t> out);

    // The same for the media threads that know only a DatagramGuard.
    std::optional<std::span<const std::uint8_t>> seal(std::span<const std::uint8_t> plain,
                                                      std::span<std::uint8_t> out) override {
        const Outgoing sent = outgoing(plain, out);
        if (sent.status == Sent::Plain || sent.status == Sent::Sealed) {
            return sent.bytes;
        }
        return std::nullopt;
    }
    std::optional<std::span<const std::uint8_t>> open(std::span<const std::uint8_t> datagram,
                                                      std::span<std::uint8_t> out) override {
        return incoming(datagram, out);
    }

    struct Counters {
        std::uint64_t sentPlain = 0;
        std::uint64_t sentSealed = 0;
        std::uint64_t heldOut = 0;     // not sent: undecided, failed or refused
        std::uint64_t tooLarge = 0;    // not sent: too large to seal
        std::uint64_t sealFailed = 0;  // not sent: no room, or the key used up
        std::uint64_t passedPlain = 0; // taken in as they came (older peer)
        std::uint64_t opened = 0;
        std::uint64_t heldIn = 0;    // dropped: undecided, failed or refused
        std::uint64_t malformed = 0; // dropped: short, too large, not sealed, or no room
        std::uint64_t forged = 0;    // dropped: failed to open
        std::uint64_t replayed = 0;  // dropped: seen before, or older than the replay window
    };
    Counters counters() const;

private:
    struct AtomicCounters {
        std::atomic<std::uint64_t> sentPlain{0}, sentSealed{0}, heldOut{0}, tooLarge{0}, sealFailed{0},
            passedPlain{0}, opened{0}, heldIn{0}, malformed{0}, forged{0}, replayed{0};
    };
    static void bump(std::atomic<std::uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }

    SealedMedium m_medium;
    static_assert(kSealedOverheadBytes <= kMaxOverheadBytes);
    std::atomic<Mode> m_mode{Mode::Hold};
    std::atomic<bool> m_decided{false};  // main thread: decide*() runs once
    std::optional<MediaSealer> m_sealer; // set before m_mode is Sealed; then the sending thread's
    std::optional<MediaOpener> m_opener; // set before m_mode is Sealed; then the receiving thread's
    AtomicCounters m_counters;
};

} // namespace talvora
