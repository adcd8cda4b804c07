#include "secure/Sodium.h"

#include "base/Error.h"

#include <sodium.h>

#include <algorithm>

namespace talvora {

void ensureSodium() {
    // 0: started now; 1: already started; -1: no randomness to be had.
    if (sodium_init() < 0) {
        throw Error(QStringLiteral("The cryptography library could not start: this system gives it no "
                                   "random numbers, so calls cannot be private"));
    }
}

void wipe(std::span<std::uint8_t> bytes) {
    sodium_memzero(bytes.data(), bytes.size());
}

SecretKey::SecretKey(std::span<const std::uint8_t, kBytes> bytes) {
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin());
}

SecretKey::~SecretKey() {
    wipe(m_bytes);
}

SecretKey::SecretKey(SecretKey&& other) noexcept : m_bytes(other.m_bytes) {
    wipe(other.m_bytes);
}

SecretKey& SecretKey::operator=(SecretKey&& other) noexcept {
    if (this != &other) {
        m_bytes = other.m_bytes;
        wipe(other.m_bytes);
    }
    return *this;
}

} // namespace talvora
