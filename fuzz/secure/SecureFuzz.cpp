// The first byte picks what the rest feeds:
//   0  the key agreement: two honest sides with fixed keys, and a wire on which the input
//      delivers, drops, repeats, alters and injects messages and moves the clock. Whatever
//      happens, two sides that both complete share the code and know each other's identity.
//   1  sealed datagrams: each one either a stranger's bytes or one of a pool of authentic
//      pictures or voice packets, possibly altered, to an opener; what opens is exactly what was sealed, and
//      no sequence number opens twice.
//   2  the identity file and the verified peers file; what is read is written back the same.
#include "secure/IdentityKey.h"
#include "secure/KeyAgreement.h"
#include "secure/SealedDatagram.h"
#include "secure/VerifiedPeers.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <vector>

using namespace talvora;

namespace {

// Reads the input a byte at a time; zeros once it runs out.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool more() const { return at < size; }
    std::uint8_t next() { return at < size ? data[at++] : 0; }
    QByteArray take(std::size_t n) {
        n = std::min(n, size - at);
        QByteArray out(reinterpret_cast<const char*>(data + at), qsizetype(n));
        at += n;
        return out;
    }
};

std::array<std::uint8_t, 32> filled(std::uint8_t value) {
    std::array<std::uint8_t, 32> a{};
    a.fill(value);
    return a;
}

void check(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

void agreement(Input& in) {
    static const IdentityKey idI = IdentityKey::fromSeed(filled(1));
    static const IdentityKey idR = IdentityKey::fromSeed(filled(2));
    const KeyAgreement::Timing timing{200, 3000};
    KeyAgreement sides[2] = {
        {KeyAgreementRole::Initiator, idI, timing, filled(3)},
        {in.next() & 1 ? KeyAgreementRole::Initiator : KeyAgreementRole::Responder, idR, timing, filled(4)}};
    std::deque<std::pair<int, KeyMessage>> wire; // (to, message)
    std::int64_t nowMs = 0;
    const auto post = [&](int from, const KeyAgreementStep& step) {
        for (const KeyMessage& m : step.send) {
            wire.push_back({1 - from, m});
        }
    };
    const auto deliver = [&](int to, const KeyMessage& m) {
        post(to, sides[to].receive(m.type, m.payload, nowMs));
    };
    post(0, sides[0].start(nowMs));
    post(1, sides[1].start(nowMs));
    while (in.more()) {
        const std::uint8_t op = in.next();
        if (op % 8 == 5) { // the clock moves
            nowMs += (op >> 3) * 25;
            post(0, sides[0].tick(nowMs));
            post(1, sides[1].tick(nowMs));
            continue;
        }
        if (op % 8 == 6) { // a message from nowhere, of any type 16 to 31 and any length
            const int to = (op >> 3) & 1;
            const auto type = quint8(16 + in.next() % 16);
            deliver(to, {type, in.take(in.next())});
            continue;
        }
        if (wire.empty()) {
            continue;
        }
        auto [to, m] = wire.front();
        wire.pop_front();
        switch (op % 8) {
        case 1: // lost
            break;
        case 2: // arrives twice, the second time later
            deliver(to, m);
            wire.push_back({to, m});
            break;
        case 3: // one byte altered
            if (!m.payload.isEmpty()) {
                m.payload[in.next() % m.payload.size()] ^= char(in.next() | 1);
            }
            deliver(to, m);
            break;
        case 4: // cut short
            deliver(to, {m.type, m.payload.left(in.next() % (m.payload.size() + 1))});
            break;
        case 7: // to the wrong side (reflected)
            deliver(1 - to, m);
            break;
        default:
            deliver(to, m);
            break;
        }
    }
    // Let the honest wire finish what is under way, then the time run out.
    for (int round = 0; round < 1000; ++round) {
        while (!wire.empty()) {
            auto [to, m] = wire.front();
            wire.pop_front();
            deliver(to, m);
        }
        const auto a = sides[0].nextDeadlineMs(), b = sides[1].nextDeadlineMs();
        if (!a && !b) {
            break;
        }
        nowMs = std::max(nowMs, std::min(a.value_or(INT64_MAX), b.value_or(INT64_MAX)));
        post(0, sides[0].tick(nowMs));
        post(1, sides[1].tick(nowMs));
    }
    check(sides[0].nextDeadlineMs() == std::nullopt && sides[1].nextDeadlineMs() == std::nullopt);
    if (sides[0].completed() && sides[1].completed()) {
        check(sides[0].shortAuthString() == sides[1].shortAuthString());
        check(sides[0].peerIdentity() == idR.publicKey() && sides[1].peerIdentity() == idI.publicKey());
        check(sides[0].role() != sides[1].role());
    }
}

// Authentic datagrams numbered 0 to kPool - 1; number i carries 1 + i % 40 bytes of value i.
constexpr int kPool = 160;
std::vector<std::vector<std::uint8_t>> sealedPool(SealedMedium medium, AeadCipher cipher) {
    MediaSealer sealer(medium, cipher, SecretKey(filled(9)));
    std::vector<std::vector<std::uint8_t>> out;
    for (int i = 0; i < kPool; ++i) {
        std::vector<std::uint8_t> plain(1 + i % 40, std::uint8_t(i));
        std::vector<std::uint8_t> datagram(plain.size() + kSealedOverheadBytes);
        sealer.seal(plain, datagram);
        out.push_back(datagram);
    }
    return out;
}

void sealed(Input& in) {
    // Pictures or voice, with either cipher (AES where this machine has it).
    const std::uint8_t setup = in.next();
    const SealedMedium medium = setup & 1 ? SealedMedium::Voice : SealedMedium::Picture;
    const bool aes = (setup & 2) && (availableCiphers() & std::uint8_t(AeadCipher::Aes256Gcm));
    const AeadCipher cipher = aes ? AeadCipher::Aes256Gcm : AeadCipher::ChaCha20Poly1305;
    static const std::vector<std::vector<std::uint8_t>> pools[2][2] = {
        {sealedPool(SealedMedium::Picture, AeadCipher::ChaCha20Poly1305),
         sealedPool(SealedMedium::Picture,
                    availableCiphers() & 2 ? AeadCipher::Aes256Gcm : AeadCipher::ChaCha20Poly1305)},
        {sealedPool(SealedMedium::Voice, AeadCipher::ChaCha20Poly1305),
         sealedPool(SealedMedium::Voice,
                    availableCiphers() & 2 ? AeadCipher::Aes256Gcm : AeadCipher::ChaCha20Poly1305)}};
    const auto& pool = pools[setup & 1][aes ? 1 : 0];
    MediaOpener opener(medium, cipher, SecretKey(filled(9)));
    std::set<std::uint32_t> opened;
    while (in.more()) {
        const std::uint8_t op = in.next();
        std::vector<std::uint8_t> datagram;
        int from = -1;
        if (op & 1) { // one of the pool, possibly altered
            from = (op >> 1) % kPool;
            datagram = pool[std::size_t(from)];
            if (in.next() & 1) {
                datagram[in.next() % datagram.size()] ^= std::uint8_t(in.next() | 1);
                from = -1;
            }
        } else { // a stranger's bytes, in a block of exactly their size so ASan sees any overread
            const QByteArray bytes = in.take(op >> 1 == 127 ? in.next() * 256 + in.next() : op >> 1);
            datagram.assign(bytes.begin(), bytes.end());
        }
        auto copy = std::make_unique<std::uint8_t[]>(datagram.size());
        if (!datagram.empty()) {
            std::memcpy(copy.get(), datagram.data(), datagram.size());
        }
        std::vector<std::uint8_t> out(datagram.size());
        const OpenResult r = opener.open({copy.get(), datagram.size()}, out);
        // An authentic datagram opens unless its number was opened or fell out of the window.
        const auto sequence = std::uint32_t(from);
        const bool fresh = from >= 0 && !opened.contains(sequence) &&
                           (opened.empty() || sequence + ReplayWindow::kSize > *opened.rbegin());
        check(!fresh || r.status == OpenStatus::Opened);
        if (r.status == OpenStatus::Opened) {
            check(opened.insert(r.sequence).second);
            check(r.bytes == datagram.size() - kSealedOverheadBytes);
            check(out[0] == std::uint8_t(r.sequence)); // the pool's picture of that number
        }
    }
}

void files(Input& in) {
    const QByteArray bytes = in.take(in.size);
    if (std::optional<IdentityKey> key = parseIdentityFile(bytes)) {
        check(parseIdentityFile(key->fileBytes())->publicKey() == key->publicKey());
    }
    const VerifiedPeersText text = parseVerifiedPeers(bytes);
    const VerifiedPeersText again = parseVerifiedPeers(verifiedPeersBytes(text.lines));
    check(again.lines == text.lines && again.problems == text.problems);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Input in{data + 1, size - 1};
    switch (data[0] % 3) {
    case 0:
        agreement(in);
        break;
    case 1:
        sealed(in);
        break;
    default:
        files(in);
        break;
    }
    return 0;
}
