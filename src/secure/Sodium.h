#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace talvora {

// libsodium must be started once before any of its functions run. This starts it (safe from any
// thread, and cheap after the first call); it throws talvora::Error when the library cannot
// start, which happens only without a source of randomness.
void ensureSodium();

// Overwrites `bytes` with zeros in a way the compiler cannot leave out.
void wipe(std::span<std::uint8_t> bytes);

// 32 bytes of key material that are wiped when the key goes away or is moved from, so that a key
// lives in one place only and no copy outlasts the call it belonged to.
class SecretKey {
public:
    static constexpr std::size_t kBytes = 32;

    SecretKey() = default;
    explicit SecretKey(std::span<const std::uint8_t, kBytes> bytes);
    ~SecretKey();
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;
    SecretKey(SecretKey&& other) noexcept;
    SecretKey& operator=(SecretKey&& other) noexcept;

    const std::uint8_t* data() const { return m_bytes.data(); }
    std::uint8_t* data() { return m_bytes.data(); }
    std::span<const std::uint8_t, kBytes> bytes() const { return m_bytes; }

private:
    std::array<std::uint8_t, kBytes> m_bytes{};
};

} // namespace talvora
