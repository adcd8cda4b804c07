// Sealed pictures and voice: the datagram's layout, what a tampered, replayed, reordered or
// foreign datagram comes to, and the guard that decides what crosses the network.

#include "secure/SealedDatagram.h"
#include "secure/MediaGuard.h"
#include "voice/engine/Rtp.h"

#include <gtest/gtest.h>

#include <sodium.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

namespace talvora {
namespace {

using Bytes = std::vector<std::uint8_t>;

SecretKey key(std::uint8_t fill) {
    std::array<std::uint8_t, 32> bytes{};
    bytes.fill(fill);
    return SecretKey(bytes);
}

Bytes pictureLike(std::size_t size) {
    Bytes b(size);
    std::iota(b.begin(), b.end(), std::uint8_t(0));
    b[0] = 0xff; // a JPEG file's start
    b[1] = 0xd8;
    return b;
}

constexpr AeadCipher kChaCha = AeadCipher::ChaCha20Poly1305;

// The ciphers this machine has, for the cases that run with each.
std::vector<AeadCipher> ciphers() {
    std::vector<AeadCipher> out{kChaCha};
    if (availableCiphers() & std::uint8_t(AeadCipher::Aes256Gcm)) {
        out.push_back(AeadCipher::Aes256Gcm);
    }
    return out;
}

Bytes sealOne(MediaSealer& sealer, const Bytes& plain) {
    Bytes out(plain.size() + kSealedOverheadBytes);
    EXPECT_EQ(sealer.seal(plain, out).status, SealStatus::Sealed);
    return out;
}

// The layout as written in the header comment, checked with libsodium directly.
TEST(SealedDatagram, LayoutByteForByte) {
    MediaSealer sealer(SealedMedium::Voice, kChaCha, key(7));
    const Bytes plain = {0x80, 0x6f, 0x00, 0x01, 9, 9, 9, 9, 1, 2, 3, 4, 0xfc, 0xff, 0xfe}; // RTP and Opus
    sealOne(sealer, plain);
    const Bytes sealed = sealOne(sealer, plain); // the second: sequence 1
    ASSERT_EQ(sealed.size(), plain.size() + 21);
    EXPECT_EQ(Bytes(sealed.begin(), sealed.begin() + 5), (Bytes{0x56, 0, 0, 0, 1}));
    std::array<std::uint8_t, 12> nonce{};
    std::copy(sealed.begin(), sealed.begin() + 5, nonce.begin() + 7);
    Bytes opened(plain.size());
    const SecretKey k = key(7);
    ASSERT_EQ(crypto_aead_chacha20poly1305_ietf_decrypt(opened.data(), nullptr, nullptr, sealed.data() + 5,
                                                        sealed.size() - 5, sealed.data(), 5, nonce.data(),
                                                        k.data()),
              0);
    EXPECT_EQ(opened, plain);
    // A sniffer takes neither medium for what it carries.
    MediaSealer pictures(SealedMedium::Picture, kChaCha, key(7));
    const Bytes picture = sealOne(pictures, pictureLike(1000));
    EXPECT_NE(picture[0], 0xff);
    EXPECT_FALSE(voice::parseRtpPacket(sealed));
    EXPECT_FALSE(voice::parseRtpPacket(picture));
}

TEST(SealedDatagram, WhatComesOfEachDatagram) {
    for (AeadCipher cipher : ciphers()) {
        MediaSealer sealer(SealedMedium::Picture, cipher, key(1));
        std::vector<Bytes> sealed;
        for (int i = 0; i < 300; ++i) {
            sealed.push_back(sealOne(sealer, pictureLike(100 + i)));
        }
        const auto tampered = [&](std::size_t at) {
            Bytes b = sealed[5];
            b[at] ^= 0x01;
            return b;
        };
        const Bytes& s = sealed[5];
        const struct {
            const char* name;
            std::vector<Bytes> before; // opened first, in order
            Bytes datagram;
            OpenStatus expected;
            std::uint8_t keyFill = 1;
        } cases[] = {
            {"first", {}, s, OpenStatus::Opened},
            {"tampered medium byte", {}, tampered(0), OpenStatus::NotSealed},
            {"tampered sequence", {}, tampered(3), OpenStatus::Forged},
            {"tampered body", {}, tampered(50), OpenStatus::Forged},
            {"tampered tag", {}, tampered(s.size() - 1), OpenStatus::Forged},
            {"wrong key", {}, s, OpenStatus::Forged, 2},
            {"replayed", {s}, s, OpenStatus::Replayed},
            {"reordered within the window", {sealed[130]}, s, OpenStatus::Opened},
            {"reordered to the window's edge", {sealed[132]}, s, OpenStatus::Opened},
            {"reordered beyond the window", {sealed[133]}, s, OpenStatus::TooOld},
            {"replayed after newer ones", {s, sealed[9], sealed[7]}, s, OpenStatus::Replayed},
            {"forgery does not move the window", {tampered(3), tampered(2)}, s, OpenStatus::Opened},
            {"short", {}, Bytes(s.begin(), s.begin() + 21), OpenStatus::Short},
            {"empty", {}, {}, OpenStatus::Short},
            {"a plain JPEG file", {}, pictureLike(500), OpenStatus::NotSealed},
            {"a voice datagram",
             {},
             [&] {
                 MediaSealer v(SealedMedium::Voice, cipher, key(1));
                 return sealOne(v, Bytes(50, 3));
             }(),
             OpenStatus::NotSealed},
            {"longer than any picture",
             {},
             [&] {
                 Bytes b = s;
                 b.resize(kMaxUdpPayloadBytes + 1);
                 return b;
             }(),
             OpenStatus::TooLarge},
        };
        for (const auto& c : cases) {
            MediaOpener opener(SealedMedium::Picture, cipher, key(c.keyFill));
            Bytes out(70000, 0xee);
            for (const Bytes& b : c.before) {
                opener.open(b, out);
            }
            std::fill(out.begin(), out.end(), 0xee);
            const OpenResult r = opener.open(c.datagram, out);
            EXPECT_EQ(r.status, c.expected) << c.name;
            if (r.status == OpenStatus::Opened) {
                EXPECT_EQ(Bytes(out.begin(), out.begin() + r.bytes), pictureLike(105)) << c.name;
            } else {
                EXPECT_NE(out[0], 0xff) << c.name << ": no plain byte comes out";
            }
        }
    }
}

TEST(SealedDatagram, SizesBuffersAndSealingInPlace) {
    for (AeadCipher cipher : ciphers()) {
        MediaSealer sealer(SealedMedium::Picture, cipher, key(4));
        MediaOpener opener(SealedMedium::Picture, cipher, key(4));
        Bytes big(kMaxUdpPayloadBytes);
        EXPECT_EQ(sealer.seal(pictureLike(kMaxSealedPicturePlainBytes + 1), big).status,
                  SealStatus::TooLarge);
        EXPECT_EQ(sealer.seal({}, big).status, SealStatus::Empty);
        EXPECT_EQ(sealer.seal(pictureLike(100), std::span(big).first(120)).status, SealStatus::NoRoom);
        EXPECT_EQ(sealer.seal(std::span(big).subspan(3, 100), big).status, SealStatus::NoRoom) << "overlap";
        EXPECT_EQ(sealer.nextSequence(), 0u) << "refusals use no sequence number";

        // The largest picture fills the largest datagram; sealed and opened where it lies.
        const Bytes picture = pictureLike(kMaxSealedPicturePlainBytes);
        std::copy(picture.begin(), picture.end(), big.begin() + kSealedHeaderBytes);
        const SealResult sealed =
            sealer.seal(std::span(big).subspan(kSealedHeaderBytes, picture.size()), big);
        ASSERT_EQ(sealed.status, SealStatus::Sealed);
        EXPECT_EQ(sealed.bytes, kMaxUdpPayloadBytes);
        const OpenResult opened = opener.open(big, std::span(big).subspan(kSealedHeaderBytes));
        ASSERT_EQ(opened.status, OpenStatus::Opened);
        EXPECT_TRUE(std::equal(picture.begin(), picture.end(), big.begin() + kSealedHeaderBytes));

        MediaSealer voice(SealedMedium::Voice, cipher, key(4));
        Bytes out(2000);
        EXPECT_EQ(voice.seal(Bytes(kMaxSealedVoicePlainBytes), out).bytes, kMaxSealedVoiceDatagramBytes);
        EXPECT_EQ(voice.seal(Bytes(kMaxSealedVoicePlainBytes + 1), out).status, SealStatus::TooLarge);
    }
}

TEST(MediaGuard, HoldsUntilDecidedThenPassesOrSeals) {
    MediaGuard a(SealedMedium::Voice), b(SealedMedium::Voice);
    const Bytes rtp(80, 0x80);
    Bytes out(200), in(200);
    EXPECT_EQ(a.outgoing(rtp, out).status, MediaGuard::Sent::Held);
    EXPECT_FALSE(b.incoming(rtp, in)) << "undecided: plain voice is not taken in either";
    EXPECT_EQ(a.maxPlainBytes(), kMaxSealedVoicePlainBytes);

    ASSERT_TRUE(a.decideSealed(kChaCha, key(1), key(2)));
    ASSERT_TRUE(b.decideSealed(kChaCha, key(2), key(1)));
    EXPECT_FALSE(a.decidePlain()) << "decided once";
    const MediaGuard::Outgoing sent = a.outgoing(rtp, out);
    ASSERT_EQ(sent.status, MediaGuard::Sent::Sealed);
    const Bytes datagram(sent.bytes.begin(), sent.bytes.end());
    const auto opened = b.incoming(datagram, in);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(std::equal(opened->begin(), opened->end(), rtp.begin(), rtp.end()));
    EXPECT_FALSE(b.incoming(datagram, in)) << "replayed";
    EXPECT_FALSE(b.incoming(rtp, in)) << "plain RTP";
    const MediaGuard::Outgoing next = a.outgoing(rtp, out);
    Bytes forged(next.bytes.begin(), next.bytes.end());
    forged[10] ^= 4;
    EXPECT_FALSE(b.incoming(forged, in));
    const MediaGuard::Counters cb = b.counters();
    EXPECT_EQ(cb.heldIn, 1u);
    EXPECT_EQ(cb.opened, 1u);
    EXPECT_EQ(cb.replayed, 1u);
    EXPECT_EQ(cb.malformed, 1u);
    EXPECT_EQ(cb.forged, 1u);
    EXPECT_EQ(a.counters().heldOut, 1u);
    EXPECT_EQ(a.counters().sentSealed, 2u);

    MediaGuard plain(SealedMedium::Picture);
    ASSERT_TRUE(plain.decidePlain());
    EXPECT_EQ(plain.maxPlainBytes(), kMaxUdpPayloadBytes);
    EXPECT_EQ(plain.outgoing(rtp, out).bytes.data(), rtp.data()) << "as it is";
    EXPECT_EQ(plain.incoming(rtp, in)->data(), rtp.data());
}

// The media threads ask while the main thread decides (ThreadSanitizer checks the hand-over).
TEST(MediaGuard, DecidedWhileTheMediaThreadsRun) {
    MediaGuard a(SealedMedium::Voice), b(SealedMedium::Voice);
    std::atomic<int> opened{0};
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        const Bytes rtp(60, 0x80);
        Bytes out(100), in(100);
        while (!stop.load()) {
            const MediaGuard::Outgoing sent = a.outgoing(rtp, out);
            if (sent.status == MediaGuard::Sent::Sealed && b.incoming(sent.bytes, in)) {
                ++opened;
            }
        }
    });
    a.decideSealed(ciphers().back(), key(5), key(6));
    b.decideSealed(ciphers().back(), key(6), key(5));
    while (opened.load() < 100) {
        std::this_thread::yield();
    }
    stop = true;
    sender.join();
    EXPECT_EQ(b.counters().forged + b.counters().malformed, 0u);
}

} // namespace
} // namespace talvora
