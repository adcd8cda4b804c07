#include "secure/IdentityKey.h"

#include "base/FileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sodium.h>

#include <cerrno>
#include <cstring>

namespace talvora {

namespace {

static_assert(crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_SECRETKEYBYTES == 64 &&
              crypto_sign_SEEDBYTES == 32 && crypto_sign_BYTES == 64);

constexpr qsizetype kMaxIdentityFileBytes = 4096;
const QByteArray kSeedField = QByteArrayLiteral("ed25519-seed ");

QString systemError(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

IdentityKey IdentityKey::generate() {
    ensureSodium();
    IdentityKey key;
    crypto_sign_keypair(key.m_public.data(), key.m_secret.data());
    return key;
}

IdentityKey IdentityKey::fromSeed(std::span<const std::uint8_t, 32> seed) {
    ensureSodium();
    IdentityKey key;
    crypto_sign_seed_keypair(key.m_public.data(), key.m_secret.data(), seed.data());
    return key;
}

IdentityKey::~IdentityKey() {
    wipe(m_secret);
}

IdentityKey::IdentityKey(IdentityKey&& other) noexcept : m_secret(other.m_secret), m_public(other.m_public) {
    wipe(other.m_secret);
}

IdentityKey& IdentityKey::operator=(IdentityKey&& other) noexcept {
    if (this != &other) {
        m_secret = other.m_secret;
        m_public = other.m_public;
        wipe(other.m_secret);
    }
    return *this;
}

IdentitySignature IdentityKey::sign(std::span<const std::uint8_t> message) const {
    IdentitySignature signature{};
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), m_secret.data());
    return signature;
}

bool IdentityKey::verify(const IdentityPublicKey& key, std::span<const std::uint8_t> message,
                         const IdentitySignature& signature) {
    ensureSodium();
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), key.data()) == 0;
}

QByteArray IdentityKey::fileBytes() const {
    // The seed is the first half of libsodium's secret key.
    QByteArray seedHex = QByteArray(reinterpret_cast<const char*>(m_secret.data()), 32).toHex();
    QByteArray out =
        QByteArrayLiteral("# Talvora Video Phone identity key. Keep it private: whoever has this "
                          "file can pass for this phone.\n") +
        kSeedField + seedHex + '\n';
    wipe(std::span(reinterpret_cast<std::uint8_t*>(seedHex.data()), size_t(seedHex.size())));
    return out;
}

QString identityKeyHex(const IdentityPublicKey& key) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(key.data()), qsizetype(key.size())).toHex());
}

std::optional<IdentityPublicKey> identityKeyFromHex(QByteArrayView hex) {
    if (hex.size() != 64) {
        return std::nullopt;
    }
    IdentityPublicKey key{};
    for (qsizetype i = 0; i < 64; ++i) {
        const char c = hex[i];
        int v = -1;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        key[size_t(i / 2)] = std::uint8_t((key[size_t(i / 2)] << 4) | v);
    }
    return key;
}

std::optional<IdentityKey> parseIdentityFile(QByteArrayView bytes) {
    std::optional<IdentityPublicKey> seed; // 32 bytes in 64 hex digits, as a public key is written
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = pos;
        while (end < bytes.size() && bytes[end] != '\n') {
            ++end;
        }
        const QByteArrayView line = bytes.sliced(pos, end - pos).trimmed(); // CR LF too
        pos = end + 1;
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        if (seed || !line.startsWith(kSeedField)) {
            return std::nullopt;
        }
        seed = identityKeyFromHex(line.sliced(kSeedField.size()));
        if (!seed) {
            return std::nullopt;
        }
    }
    if (!seed) {
        return std::nullopt;
    }
    IdentityKey key = IdentityKey::fromSeed(*seed);
    wipe(*seed);
    return key;
}

IdentityLoad loadOrCreateIdentity(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    const auto temporary = [&](const QString& why) {
        return IdentityLoad{IdentityKey::generate(), IdentityLoad::Source::Temporary,
                            QStringLiteral("The identity file %1 %2. This phone uses a temporary identity "
                                           "until the file is put right or removed, so peers who verified "
                                           "it will be warned that its key does not match")
                                .arg(shown, why)};
    };
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        IdentityKey key = IdentityKey::generate();
        QDir().mkpath(info.absolutePath());
        const int err = createFileExclusively(path, key.fileBytes());
        if (err == 0) {
            return {std::move(key), IdentityLoad::Source::Created, {}};
        }
        if (err != EEXIST) {
            return temporary(QStringLiteral("cannot be created (%1)").arg(systemError(err)));
        }
        // Another copy of the phone made it just now: read theirs.
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return temporary(QStringLiteral("cannot be read (%1)").arg(file.errorString()));
    }
    QByteArray bytes = file.read(kMaxIdentityFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        return temporary(QStringLiteral("cannot be read (%1)").arg(file.errorString()));
    }
    std::optional<IdentityKey> key;
    if (bytes.size() <= kMaxIdentityFileBytes) {
        key = parseIdentityFile(bytes);
    }
    wipe(std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), size_t(bytes.size())));
    if (!key) {
        return temporary(QStringLiteral("is not an identity key file"));
    }
    return {std::move(*key), IdentityLoad::Source::Read, {}};
}

} // namespace talvora
