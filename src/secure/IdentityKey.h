#pragma once

#include "secure/Sodium.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace talvora {

using IdentityPublicKey = std::array<std::uint8_t, 32>;
using IdentitySignature = std::array<std::uint8_t, 64>;

// The phone's long-term identity: an Ed25519 key pair made on first start and kept in
// "Identity.key" beside "Settings.ini". In every private call each phone signs that call's
// key exchange with it, inside the encrypted confirmation, so the peer learns the key and knows
// that whoever holds it took part in this very exchange. Once the users have compared the code
// and marked each other verified, a later call recognises the peer by this key without a
// comparison (see VerifiedPeers).
class IdentityKey {
public:
    static IdentityKey generate();
    // The same seed gives the same key pair (the file keeps the seed; tests fix it).
    static IdentityKey fromSeed(std::span<const std::uint8_t, 32> seed);

    ~IdentityKey();
    IdentityKey(IdentityKey&& other) noexcept;
    IdentityKey& operator=(IdentityKey&& other) noexcept;
    IdentityKey(const IdentityKey&) = delete;
    IdentityKey& operator=(const IdentityKey&) = delete;

    const IdentityPublicKey& publicKey() const { return m_public; }
    IdentitySignature sign(std::span<const std::uint8_t> message) const;
    static bool verify(const IdentityPublicKey& key, std::span<const std::uint8_t> message,
                       const IdentitySignature& signature);

    // The identity file's contents (see parseIdentityFile).
    QByteArray fileBytes() const;

private:
    IdentityKey() = default;
    std::array<std::uint8_t, 64> m_secret{}; // libsodium's form: the seed, then the public key
    IdentityPublicKey m_public{};
};

// 64 lower-case hex digits, as the verified peers file writes a key.
QString identityKeyHex(const IdentityPublicKey& key);
std::optional<IdentityPublicKey> identityKeyFromHex(QByteArrayView hex);

inline const QString kIdentityFileName = QStringLiteral("Identity.key");

// "Identity.key": text lines; blank lines and lines starting with "#" are comments, and exactly
// one line is "ed25519-seed " followed by the 32-byte seed in 64 hex digits. Empty when the bytes
// are not such a file.
std::optional<IdentityKey> parseIdentityFile(QByteArrayView bytes);

struct IdentityLoad {
    enum class Source { Read, Created, Temporary };
    IdentityKey key;
    Source source;
    QString problem; // for a message box; empty unless Source::Temporary
};

// Reads the identity file at `path`, or makes a new identity and creates the file (readable by
// its owner only) when there is none. A file that cannot be read or is not an identity file is
// never overwritten: the phone goes on with a temporary identity for this run, and `problem`
// says so, so that the user can put the file right. Main thread, at start.
IdentityLoad loadOrCreateIdentity(const QString& path);

} // namespace talvora
