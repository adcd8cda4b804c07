#pragma once

#include <QString>

#include <cstdint>
#include <span>

namespace talvora {

// The short authentication string both users read to each other: four characters of the base-32
// alphabet that ZRTP uses for its codes, picked so that no two sound or look alike when read
// aloud or written by hand, and rendered in lower case as it was designed to be.
inline constexpr char kSasAlphabet[] = "ybndrfg8ejkmcpqxot1uwisza345h769";
inline constexpr int kSasCharacters = 4;

// The code for the leftmost 20 bits of `bytes` (at least three bytes): the first character
// stands for the top five bits.
QString shortAuthString(std::span<const std::uint8_t> bytes);

} // namespace talvora
