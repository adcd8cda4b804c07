#include "secure/SealedDatagram.h"

#include <sodium.h>

#include <array>
#include <cstdint>

namespace talvora {

namespace {

using Nonce = std::array<std::uint8_t, 12>;

static_assert(crypto_aead_chacha20poly1305_IETF_ABYTES == kSealedTagBytes &&
              crypto_aead_aes256gcm_ABYTES == kSealedTagBytes);
static_assert(crypto_aead_chacha20poly1305_IETF_KEYBYTES == SecretKey::kBytes &&
              crypto_aead_aes256gcm_KEYBYTES == SecretKey::kBytes);
static_assert(crypto_aead_chacha20poly1305_IETF_NPUBBYTES == 12 && crypto_aead_aes256gcm_NPUBBYTES == 12);
static_assert(sizeof(crypto_aead_aes256gcm_state) == 512 && alignof(crypto_aead_aes256gcm_state) <= 16);

std::uintptr_t address(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

// True when `out` may receive what is made from `in`: the two lie apart, or the bytes to be
// transformed (at `inAt`) lie exactly where their results go (at `outAt`). A stream cipher's
// vector code reads and writes in blocks, so any other overlap could overwrite bytes not yet read.
bool buffersFit(std::span<const std::uint8_t> in, std::span<const std::uint8_t> out, std::uintptr_t inAt,
                std::uintptr_t outAt) {
    if (in.empty() || out.empty()) {
        return true;
    }
    const std::uintptr_t inBegin = address(in.data());
    const std::uintptr_t outBegin = address(out.data());
    const bool apart = inBegin + in.size() <= outBegin || outBegin + out.size() <= inBegin;
    return apart || inAt == outAt;
}

Nonce nonceFor(std::span<const std::uint8_t> header) {
    Nonce nonce{};
    for (std::size_t i = 0; i < kSealedHeaderBytes; ++i) {
        nonce[nonce.size() - kSealedHeaderBytes + i] = header[i];
    }
    return nonce;
}

crypto_aead_aes256gcm_state* aesState(unsigned char* bytes) {
    return reinterpret_cast<crypto_aead_aes256gcm_state*>(bytes);
}

} // namespace

std::uint8_t availableCiphers() {
    ensureSodium();
    std::uint8_t ciphers = std::uint8_t(AeadCipher::ChaCha20Poly1305);
    if (crypto_aead_aes256gcm_is_available() != 0) {
        ciphers |= std::uint8_t(AeadCipher::Aes256Gcm);
    }
    return ciphers;
}

AeadKey::AeadKey(AeadCipher cipher, SecretKey key) : m_cipher(cipher), m_key(std::move(key)), m_aesState{} {
    ensureSodium();
    if (m_cipher == AeadCipher::Aes256Gcm) {
        crypto_aead_aes256gcm_beforenm(aesState(m_aesState), m_key.data());
    }
}

AeadKey::~AeadKey() {
    wipe(m_aesState);
}

void AeadKey::seal(const std::uint8_t* plain, std::size_t size, std::uint8_t* out, std::uint8_t* tag,
                   const std::uint8_t* ad, std::size_t adSize, const std::uint8_t* nonce) const {
    if (m_cipher == AeadCipher::Aes256Gcm) {
        crypto_aead_aes256gcm_encrypt_detached_afternm(out, tag, nullptr, plain, size, ad, adSize, nullptr,
                                                       nonce,
                                                       aesState(const_cast<unsigned char*>(m_aesState)));
    } else {
        crypto_aead_chacha20poly1305_ietf_encrypt_detached(out, tag, nullptr, plain, size, ad, adSize,
                                                           nullptr, nonce, m_key.data());
    }
}

bool AeadKey::open(const std::uint8_t* cipher, std::size_t size, const std::uint8_t* tag, std::uint8_t* out,
                   const std::uint8_t* ad, std::size_t adSize, const std::uint8_t* nonce) const {
    if (m_cipher == AeadCipher::Aes256Gcm) {
        return crypto_aead_aes256gcm_decrypt_detached_afternm(
                   out, nullptr, cipher, size, tag, ad, adSize, nonce,
                   aesState(const_cast<unsigned char*>(m_aesState))) == 0;
    }
    return crypto_aead_chacha20poly1305_ietf_decrypt_detached(out, nullptr, cipher, size, tag, ad, adSize,
                                                              nonce, m_key.data()) == 0;
}

MediaSealer::MediaSealer(SealedMedium medium, AeadCipher cipher, SecretKey key)
    : m_medium(medium), m_key(cipher, std::move(key)) {}

SealResult MediaSealer::seal(std::span<const std::uint8_t> plain, std::span<std::uint8_t> out) {
    if (plain.empty()) {
        return {SealStatus::Empty, 0};
    }
    if (plain.size() > maxPlainBytes(m_medium)) {
        return {SealStatus::TooLarge, 0};
    }
    const std::size_t total = plain.size() + kSealedOverheadBytes;
    if (out.size() < total ||
        !buffersFit(plain, out, address(plain.data()), address(out.data()) + kSealedHeaderBytes)) {
        return {SealStatus::NoRoom, 0};
    }
    if (m_next > UINT32_MAX) {
        return {SealStatus::Exhausted, 0};
    }
    const auto sequence = static_cast<std::uint32_t>(m_next++);
    std::array<std::uint8_t, kSealedHeaderBytes> header{
        static_cast<std::uint8_t>(m_medium), static_cast<std::uint8_t>(sequence >> 24),
        static_cast<std::uint8_t>(sequence >> 16), static_cast<std::uint8_t>(sequence >> 8),
        static_cast<std::uint8_t>(sequence)};
    const Nonce nonce = nonceFor(header);
    // The header goes in after the encryption: sealing in place, plain[0..4] may lie under it.
    std::uint8_t* cipher = out.data() + kSealedHeaderBytes;
    m_key.seal(plain.data(), plain.size(), cipher, cipher + plain.size(), header.data(), header.size(),
               nonce.data());
    std::copy(header.begin(), header.end(), out.begin());
    return {SealStatus::Sealed, total};
}

ReplayWindow::Verdict ReplayWindow::check(std::uint32_t sequence) const {
    if (!m_any || sequence > m_highest) {
        return Verdict::Fresh;
    }
    const std::uint32_t behind = m_highest - sequence;
    if (behind >= kSize) {
        return Verdict::TooOld;
    }
    return m_seen.test(behind) ? Verdict::Replayed : Verdict::Fresh;
}

void ReplayWindow::accept(std::uint32_t sequence) {
    if (!m_any) {
        m_any = true;
        m_highest = sequence;
        m_seen.reset();
        m_seen.set(0);
        return;
    }
    if (sequence > m_highest) {
        const std::uint32_t ahead = sequence - m_highest;
        if (ahead >= kSize) {
            m_seen.reset();
        } else {
            m_seen <<= ahead;
        }
        m_highest = sequence;
        m_seen.set(0);
        return;
    }
    const std::uint32_t behind = m_highest - sequence;
    if (behind < kSize) {
        m_seen.set(behind);
    }
}

MediaOpener::MediaOpener(SealedMedium medium, AeadCipher cipher, SecretKey key)
    : m_medium(medium), m_key(cipher, std::move(key)) {}

OpenResult MediaOpener::open(std::span<const std::uint8_t> datagram, std::span<std::uint8_t> out) {
    if (datagram.size() <= kSealedOverheadBytes) {
        return {OpenStatus::Short, 0, 0};
    }
    if (datagram[0] != static_cast<std::uint8_t>(m_medium)) {
        return {OpenStatus::NotSealed, 0, 0};
    }
    if (datagram.size() > maxPlainBytes(m_medium) + kSealedOverheadBytes) {
        return {OpenStatus::TooLarge, 0, 0};
    }
    const std::size_t plainBytes = datagram.size() - kSealedOverheadBytes;
    const std::uint32_t sequence = (std::uint32_t{datagram[1]} << 24) | (std::uint32_t{datagram[2]} << 16) |
                                   (std::uint32_t{datagram[3]} << 8) | std::uint32_t{datagram[4]};
    const auto cipher = datagram.subspan(kSealedHeaderBytes, plainBytes);
    if (out.size() < plainBytes ||
        !buffersFit(datagram, out.first(plainBytes), address(cipher.data()), address(out.data()))) {
        return {OpenStatus::NoRoom, 0, sequence};
    }
    switch (m_window.check(sequence)) {
    case ReplayWindow::Verdict::Replayed:
        return {OpenStatus::Replayed, 0, sequence};
    case ReplayWindow::Verdict::TooOld:
        return {OpenStatus::TooOld, 0, sequence};
    case ReplayWindow::Verdict::Fresh:
        break;
    }
    const Nonce nonce = nonceFor(datagram.first(kSealedHeaderBytes));
    // The tag is checked before a byte is decrypted: a forged datagram yields no plain byte (libsodium
    // clears `out`), and the window stays where it was.
    if (!m_key.open(cipher.data(), plainBytes, cipher.data() + plainBytes, out.data(), datagram.data(),
                    kSealedHeaderBytes, nonce.data())) {
        return {OpenStatus::Forged, 0, sequence};
    }
    m_window.accept(sequence);
    return {OpenStatus::Opened, plainBytes, sequence};
}

} // namespace talvora
