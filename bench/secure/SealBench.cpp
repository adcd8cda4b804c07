// What private calls cost each side of a call: sealing what it sends and opening what it
// receives, per picture and per voice packet, and per second of a 720p call at 30 pictures and
// 50 voice packets a second; the voice next to SRTP with AEAD_AES_128_GCM from libsrtp2, the
// alternative for voice; and one key agreement. "allocs" counts heap allocations per operation:
// the voice engine's real-time threads may make none.
#include "AllocationCount.h"

#include "secure/KeyAgreement.h"
#include "secure/MediaGuard.h"

#include <benchmark/benchmark.h>
#include <srtp2/srtp.h>

#include <array>
#include <deque>
#include <vector>

namespace talvora {
namespace {

// A 720p picture at the quality the step-down settles at is about 60 kB; a voice packet is an
// RTP header and 20 ms of Opus at 32 kbit/s.
constexpr std::size_t kPictureBytes = 60000;
constexpr std::size_t kVoiceRtpBytes = 12 + 80;
constexpr int kPicturesPerSecond = 30;
constexpr int kVoicePacketsPerSecond = 50;

SecretKey key(std::uint8_t fill) {
    std::array<std::uint8_t, 32> bytes{};
    bytes.fill(fill);
    return SecretKey(bytes);
}

void reportAllocations(benchmark::State& state, std::uint64_t before, double operations) {
    state.counters["allocs"] = benchmark::Counter(double(bench::allocationCount() - before) / operations /
                                                  double(state.iterations()));
}

// One side's guard seals, the other's opens: one datagram of each kind per side.
struct Link {
    Link(SealedMedium medium, AeadCipher cipher, std::size_t bytes)
        : sender(medium), receiver(medium), plain(bytes, 0x5a), sealed(bytes + kSealedOverheadBytes),
          opened(bytes + kSealedOverheadBytes) {
        sender.decideSealed(cipher, key(1), key(2));
        receiver.decideSealed(cipher, key(2), key(1));
    }
    bool carry() {
        const MediaGuard::Outgoing sent = sender.outgoing(plain, sealed);
        return receiver.incoming(sent.bytes, opened).has_value();
    }
    MediaGuard sender, receiver;
    std::vector<std::uint8_t> plain, sealed, opened;
};

// The second argument is the AEAD: 1 ChaCha20-Poly1305, 2 AES-256-GCM (where the processor has it).
bool cipherHere(benchmark::State& state, AeadCipher cipher) {
    if ((availableCiphers() & std::uint8_t(cipher)) == 0) {
        state.SkipWithError("no AES-256-GCM on this processor");
        return false;
    }
    state.SetLabel(cipher == AeadCipher::Aes256Gcm ? "AES-256-GCM" : "ChaCha20-Poly1305");
    return true;
}

void BM_SealAndOpen(benchmark::State& state) {
    const auto bytes = std::size_t(state.range(0));
    const auto cipher = AeadCipher(state.range(1));
    if (!cipherHere(state, cipher)) {
        return;
    }
    Link link(bytes > kMaxSealedVoicePlainBytes ? SealedMedium::Picture : SealedMedium::Voice, cipher, bytes);
    const std::uint64_t before = bench::allocationCount();
    for (auto _ : state) {
        if (!link.carry()) {
            state.SkipWithError("a datagram did not open");
            break;
        }
    }
    reportAllocations(state, before, 1);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}
BENCHMARK(BM_SealAndOpen)->ArgsProduct({{kVoiceRtpBytes, kPictureBytes}, {1, 2}});

// A second of a 720p call for one side; "core%" is the share of one core it takes.
void BM_OneSecondOf720pCall(benchmark::State& state) {
    const auto cipher = AeadCipher(state.range(0));
    if (!cipherHere(state, cipher)) {
        return;
    }
    Link pictures(SealedMedium::Picture, cipher, kPictureBytes),
        voice(SealedMedium::Voice, cipher, kVoiceRtpBytes);
    for (auto _ : state) {
        for (int i = 0; i < kPicturesPerSecond; ++i) {
            benchmark::DoNotOptimize(pictures.carry());
        }
        for (int i = 0; i < kVoicePacketsPerSecond; ++i) {
            benchmark::DoNotOptimize(voice.carry());
        }
    }
    state.counters["core%"] = benchmark::Counter(double(state.iterations()) / 100.0,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OneSecondOf720pCall)->Arg(1)->Arg(2);

// SRTP as libsrtp2 does it on Debian (AES-128-GCM through NSS): protect and unprotect the same
// voice packet, a fresh sequence number each time.
void BM_SrtpAeadAes128GcmVoice(benchmark::State& state) {
    srtp_init();
    std::array<unsigned char, SRTP_AES_GCM_128_KEY_LEN_WSALT> master{};
    master.fill(7);
    srtp_policy_t out{};
    srtp_crypto_policy_set_aes_gcm_128_16_auth(&out.rtp);
    srtp_crypto_policy_set_aes_gcm_128_16_auth(&out.rtcp);
    out.key = master.data();
    out.window_size = 128;
    out.ssrc.type = ssrc_any_outbound;
    srtp_policy_t in = out;
    in.ssrc.type = ssrc_any_inbound;
    srtp_t sender = nullptr, receiver = nullptr;
    if (srtp_create(&sender, &out) != srtp_err_status_ok ||
        srtp_create(&receiver, &in) != srtp_err_status_ok) {
        state.SkipWithError("libsrtp2 has no AEAD_AES_128_GCM here");
        return;
    }
    std::array<std::uint8_t, kVoiceRtpBytes + SRTP_MAX_TRAILER_LEN> packet{};
    std::uint16_t sequence = 0;
    const std::uint64_t before = bench::allocationCount();
    for (auto _ : state) {
        packet.fill(0x5a);
        packet[0] = 0x80;
        packet[1] = 111;
        packet[2] = std::uint8_t(sequence >> 8);
        packet[3] = std::uint8_t(sequence);
        ++sequence;
        int length = int(kVoiceRtpBytes);
        if (srtp_protect(sender, packet.data(), &length) != srtp_err_status_ok ||
            srtp_unprotect(receiver, packet.data(), &length) != srtp_err_status_ok) {
            state.SkipWithError("SRTP failed");
            break;
        }
    }
    reportAllocations(state, before, 1);
    srtp_dealloc(sender);
    srtp_dealloc(receiver);
    srtp_shutdown();
}
BENCHMARK(BM_SrtpAeadAes128GcmVoice);

// Once per call: both sides' whole exchange, fresh keys each time.
void BM_KeyAgreement(benchmark::State& state) {
    const IdentityKey caller = IdentityKey::generate(), callee = IdentityKey::generate();
    for (auto _ : state) {
        KeyAgreement sides[2] = {{KeyAgreementRole::Initiator, caller, {}},
                                 {KeyAgreementRole::Responder, callee, {}}};
        std::deque<std::pair<int, KeyMessage>> wire;
        const auto post = [&](int from, const KeyAgreementStep& step) {
            for (const KeyMessage& m : step.send) {
                wire.push_back({1 - from, m});
            }
        };
        post(0, sides[0].start(0));
        post(1, sides[1].start(0));
        while (!wire.empty()) {
            auto [to, m] = wire.front();
            wire.pop_front();
            post(to, sides[to].receive(m.type, m.payload, 0));
        }
        if (!sides[0].completed() || !sides[1].completed()) {
            state.SkipWithError("the agreement did not complete");
            break;
        }
    }
}
BENCHMARK(BM_KeyAgreement)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talvora

BENCHMARK_MAIN();
