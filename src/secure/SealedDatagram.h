#pragma once

#include "secure/Sodium.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>

namespace talvora {

// A sealed datagram carries one picture (on the video port) or one whole RTP packet (on the voice
// port) between two Talvora phones that agreed on keys for their call:
//
//    0  1  medium: 'P' (0x50) picture, 'V' (0x56) voice
//    1  4  sequence number, big-endian: 0 for the first datagram sealed with this key, then +1
//    5  …  the plain datagram, encrypted with the call's AEAD (AeadCipher)
//  -16 16  the AEAD's tag over bytes 0 to 4 and the encrypted bytes
//
// The 12-byte nonce is seven zero bytes, the medium byte and the sequence number: each key seals
// one medium in one direction of one call, so no nonce repeats under a key, and the sender stops
// rather than wrap.
//
// What a sniffer sees: the first byte is never FF, so a sealed picture never starts like a JPEG
// file (FF D8); and its top two bits are 01, RTP version 1, which every RTP parser refuses, so a
// sealed voice packet is never taken for RTP. The RTP header and the Opus payload are both inside
// the ciphertext; the rest of the datagram is indistinguishable from random bytes.
// The AEADs two phones can agree on (as bits of the key agreement's offer).
enum class AeadCipher : std::uint8_t {
    ChaCha20Poly1305 = 1 << 0, // IETF; every phone has it
    Aes256Gcm = 1 << 1,        // twice as fast where the processor has AES instructions
};

// What this machine can seal with: ChaCha20-Poly1305 always, and AES-256-GCM where libsodium
// offers it (x86-64 with AES-NI and PCLMUL; elsewhere it has none).
std::uint8_t availableCiphers();

// One AEAD key, ready to use (AES's key schedule is expanded once, not per datagram); wiped when
// it goes. No allocation, no lock.
class AeadKey {
public:
    AeadKey(AeadCipher cipher, SecretKey key);
    ~AeadKey();
    AeadKey(const AeadKey&) = delete;
    AeadKey& operator=(const AeadKey&) = delete;

    AeadCipher cipher() const { return m_cipher; }
    // `out` receives plain.size() bytes and may be `plain` itself; the tag goes to `tag`.
    void seal(const std::uint8_t* plain, std::size_t size, std::uint8_t* out, std::uint8_t* tag,
              const std::uint8_t* ad, std::size_t adSize, const std::uint8_t* nonce) const;
    // False (and `out` cleared) when the tag does not match.
    bool open(const std::uint8_t* cipher, std::size_t size, const std::uint8_t* tag, std::uint8_t* out,
              const std::uint8_t* ad, std::size_t adSize, const std::uint8_t* nonce) const;

private:
    AeadCipher m_cipher;
    SecretKey m_key;
    alignas(16) unsigned char m_aesState[512]; // libsodium's crypto_aead_aes256gcm_state
};

enum class SealedMedium : std::uint8_t {
    Picture = 0x50,
    Voice = 0x56,
};

inline constexpr std::size_t kSealedHeaderBytes = 5;
inline constexpr std::size_t kSealedTagBytes = 16;
// What sealing adds to every datagram: the picture budget subtracts it.
inline constexpr std::size_t kSealedOverheadBytes = kSealedHeaderBytes + kSealedTagBytes;
// The largest UDP payload one IPv4 datagram can carry.
inline constexpr std::size_t kMaxUdpPayloadBytes = 65507;
// The largest JPEG file a sealed picture can carry: 65,486 bytes.
inline constexpr std::size_t kMaxSealedPicturePlainBytes = kMaxUdpPayloadBytes - kSealedOverheadBytes;
// The largest RTP datagram the voice engine makes (an Ethernet frame), and its sealed size.
inline constexpr std::size_t kMaxSealedVoicePlainBytes = 1500;
inline constexpr std::size_t kMaxSealedVoiceDatagramBytes = kMaxSealedVoicePlainBytes + kSealedOverheadBytes;

constexpr std::size_t maxPlainBytes(SealedMedium medium) {
    return medium == SealedMedium::Picture ? kMaxSealedPicturePlainBytes : kMaxSealedVoicePlainBytes;
}

enum class SealStatus {
    Sealed,
    Empty,     // nothing to seal: no picture or packet is empty
    TooLarge,  // the plain datagram is larger than the medium allows
    NoRoom,    // `out` cannot hold the sealed datagram, or overlaps the input other than in place
    Exhausted, // every sequence number of this key is used up (years of one call)
};

struct SealResult {
    SealStatus status = SealStatus::NoRoom;
    std::size_t bytes = 0; // of the sealed datagram in `out`
};

// Seals the datagrams of one medium in one direction. Used by one thread at a time; no
// allocation, no lock, no logging, so the voice engine's real-time threads can call it.
class MediaSealer {
public:
    MediaSealer(SealedMedium medium, AeadCipher cipher, SecretKey key);

    // Writes the sealed datagram for `plain` into `out`, which needs plain.size() +
    // kSealedOverheadBytes bytes. `plain` may already lie at out[kSealedHeaderBytes] (sealing in
    // place, without a copy); any other overlap is refused.
    SealResult seal(std::span<const std::uint8_t> plain, std::span<std::uint8_t> out);

    SealedMedium medium() const { return m_medium; }
    // The sequence number the next datagram gets.
    std::uint64_t nextSequence() const { return m_next; }

private:
    SealedMedium m_medium;
    AeadKey m_key;
    std::uint64_t m_next = 0; // up to 2^32; at 2^32 the key is used up
};

// Which sequence numbers were seen: the highest so far and the kSize below it. A datagram older
// than that is refused, as is one seen before.
class ReplayWindow {
public:
    static constexpr std::uint32_t kSize = 128;
    enum class Verdict { Fresh, Replayed, TooOld };

    Verdict check(std::uint32_t sequence) const;
    // Records an authentic datagram (after check() said Fresh).
    void accept(std::uint32_t sequence);

private:
    bool m_any = false;
    std::uint32_t m_highest = 0;
    std::bitset<kSize> m_seen; // bit i: m_highest - i was seen
};

enum class OpenStatus {
    Opened,
    Short,     // no longer than the header and the tag: no sealed datagram is empty
    NotSealed, // another medium's byte, or not sealed at all (a plain picture, an RTP packet)
    TooLarge,  // longer than the medium's largest sealed datagram
    NoRoom,    // `out` cannot hold the plain datagram, or overlaps the input other than in place
    Replayed,  // this sequence number was opened before
    TooOld,    // below the replay window
    Forged,    // the tag does not match: tampered with, another key, or a stranger's bytes
};

struct OpenResult {
    OpenStatus status = OpenStatus::Short;
    std::size_t bytes = 0; // of the plain datagram in `out`
    std::uint32_t sequence = 0;
};

// Opens the sealed datagrams of one medium from one direction, keeping the replay window. Only
// authentic datagrams move the window, so a stranger's bytes cannot push out the peer's. Like
// the sealer: one thread at a time, no allocation, no lock, no logging.
class MediaOpener {
public:
    MediaOpener(SealedMedium medium, AeadCipher cipher, SecretKey key);

    // Opens `datagram` into `out`, which needs datagram.size() - kSealedOverheadBytes bytes. `out`
    // may start at datagram[kSealedHeaderBytes] (opening in place); any other overlap is refused.
    OpenResult open(std::span<const std::uint8_t> datagram, std::span<std::uint8_t> out);

    SealedMedium medium() const { return m_medium; }

private:
    SealedMedium m_medium;
    AeadKey m_key;
    ReplayWindow m_window;
};

} // namespace talvora
