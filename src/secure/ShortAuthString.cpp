#include "secure/ShortAuthString.h"

#include <cassert>

namespace talvora {

static_assert(sizeof(kSasAlphabet) == 33);

QString shortAuthString(std::span<const std::uint8_t> bytes) {
    assert(bytes.size() >= 3);
    const std::uint32_t top20 =
        ((std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2]) >> 4;
    QString code;
    for (int i = kSasCharacters - 1; i >= 0; --i) {
        code += QLatin1Char(kSasAlphabet[(top20 >> (5 * i)) & 31]);
    }
    return code;
}

} // namespace talvora
